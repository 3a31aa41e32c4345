// Reads a file's audio for the quality measures: its best audio stream decoded at
// its own rate and channels and converted to planar float, from the start or from a
// point sought to. FFmpeg reads through a descriptor opened here read-only, so it
// opens nothing itself; every FFmpeg object is released with the reader.
#ifndef TWINTONE_ANALYSIS_QUALITY_READER_H
#define TWINTONE_ANALYSIS_QUALITY_READER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwrContext;

namespace twintone {

// One file on one thread.
class QualityReader {
 public:
  // Receives decoded audio: nChannels planes of nFrames floats each; returns false to
  // stop reading.
  using Sink = std::function<bool(const float* const* ppPlanes, int nFrames)>;
  enum class ReadEnd { kStopped, kEndOfFile, kFailed };

  explicit QualityReader(const std::atomic<bool>* pbCancel = nullptr);
  ~QualityReader();
  QualityReader(const QualityReader&) = delete;
  QualityReader& operator=(const QualityReader&) = delete;

  // Opens the regular file at pszPath and its best audio stream. False when it is no
  // readable file or holds no decodable audio stream.
  bool Open(const char* pszPath);

  int SampleRate() const { return nRate_; }
  int Channels() const { return nChannels_; }
  bool LosslessCodec() const { return bLossless_; }
  // The stream's length in milliseconds as the container states it; -1 unknown.
  int64_t DurationMs() const { return nDurationMs_; }

  // Decodes from the current position and hands the audio to sink until it returns
  // false, the stream ends, or reading fails (a damaged stream, a cancel request, or
  // a read that yields no audio for too long). Bounded for hostile input.
  ReadEnd Read(const Sink& sink);
  // Moves to about nMs into the stream (at or before it). False when the file cannot
  // seek; the position is then unchanged.
  bool Seek(int64_t nMs);

 private:
  bool Deliver(const AVFrame* pFrame, const Sink& sink, bool* pbMore);

  struct Ffmpeg;  // the contexts, in the order they are opened
  const std::atomic<bool>* pbCancel_;
  int nFd_ = -1;
  std::unique_ptr<Ffmpeg> ff_;
  int nStream_ = -1;
  int nRate_ = 0;
  int nChannels_ = 0;
  bool bLossless_ = false;
  int64_t nDurationMs_ = -1;
  std::vector<std::vector<float>> vecPlanes_;
  std::vector<float*> vecPlanePtrs_;
};

}  // namespace twintone

#endif  // TWINTONE_ANALYSIS_QUALITY_READER_H
