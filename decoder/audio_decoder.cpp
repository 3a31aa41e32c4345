// The audio decoder library over FFmpeg: demux, decode, convert to interleaved S16 in
// the fingerprinter's working format (11025 Hz mono), and hand the PCM to the caller.
//
// Only regular files are read. The file is opened here (non-blocking, so a FIFO or a
// device never stalls the open) and fed to FFmpeg through a custom AVIOContext, so
// FFmpeg itself opens nothing: nested opens (playlists, references) are refused.
#include "audio_decoder.h"

#include "pcm_decimator.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

using twintone::kFingerprintRate;
using twintone::PcmDecimator;

constexpr int kTaskFingerprint = 1;
// A fingerprint task delivers Chromaprint's working format, mono at 11025 Hz, so the
// audio skips Chromaprint's own downmix and resampler, which cost several times more
// than FFmpeg's vectorised ones (and than the whole analysis).
constexpr int kBytesPerFrame = 2;  // one S16 sample: mono
constexpr uint32_t kTaskMagic = 0x54574454;
constexpr int kIoBufferSize = 64 * 1024;
constexpr int kMaxChannels = 32;
constexpr int kMaxSampleRate = 1536000;
// Bounds on hostile input: decode errors in a row, and audio packets in a row that
// yield no samples, before the stream is given up as undecodable.
constexpr int kMaxConsecutiveErrors = 64;
constexpr int kMaxIdlePackets = 4096;
constexpr int kMaxReadStalls = 64;

// What CreateConverTask hands out; owned by the caller until DestroyConvertTask.
struct DecoderTask {
  uint32_t nMagic = kTaskMagic;
  int nType = 0;
};

int ReadFd(void* pOpaque, uint8_t* pBuf, int nSize) {
  int nFd = *static_cast<int*>(pOpaque);
  for (;;) {
    ssize_t nRead = read(nFd, pBuf, static_cast<size_t>(nSize));
    if (nRead > 0) return static_cast<int>(nRead);
    if (nRead == 0) return AVERROR_EOF;
    if (errno != EINTR) return AVERROR(errno);
  }
}

int64_t SeekFd(void* pOpaque, int64_t nOffset, int nWhence) {
  int nFd = *static_cast<int*>(pOpaque);
  nWhence &= ~AVSEEK_FORCE;
  if (nWhence == AVSEEK_SIZE) {
    struct stat st;
    if (fstat(nFd, &st) != 0) return AVERROR(errno);
    return static_cast<int64_t>(st.st_size);
  }
  off_t nPos = lseek(nFd, static_cast<off_t>(nOffset), nWhence);
  return nPos < 0 ? AVERROR(errno) : static_cast<int64_t>(nPos);
}

// Everything FFmpeg reads comes through the one AVIOContext supplied here; a
// demuxer asking for another resource (a playlist entry, a reference) gets nothing.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

struct AvioFree {
  void operator()(AVIOContext* pAvio) const {
    av_freep(&pAvio->buffer);  // FFmpeg may have replaced it: free the current one
    avio_context_free(&pAvio);
  }
};
struct FormatClose {
  void operator()(AVFormatContext* pFormat) const { avformat_close_input(&pFormat); }
};
struct CodecFree {
  void operator()(AVCodecContext* pCodec) const { avcodec_free_context(&pCodec); }
};
struct SwrFree {
  void operator()(SwrContext* pSwr) const { swr_free(&pSwr); }
};
struct PacketFree {
  void operator()(AVPacket* pPacket) const { av_packet_free(&pPacket); }
};
struct FrameFree {
  void operator()(AVFrame* pFrame) const { av_frame_free(&pFrame); }
};

// An AVChannelLayout released at scope exit.
struct ChannelLayout {
  AVChannelLayout layout{};
  ChannelLayout() = default;
  ChannelLayout(const ChannelLayout&) = delete;
  ChannelLayout& operator=(const ChannelLayout&) = delete;
  ~ChannelLayout() { av_channel_layout_uninit(&layout); }
  // Copies src; a layout of unknown order becomes the default one of its count.
  int Assign(const AVChannelLayout& src) {
    av_channel_layout_uninit(&layout);
    if (src.order == AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_default(&layout, src.nb_channels);
      return 0;
    }
    return av_channel_layout_copy(&layout, &src);
  }
};

void SilenceFfmpeg() {
  static std::once_flag s_once;
  std::call_once(s_once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// One decode of one file; lives inside one DecoderAudio call, on the calling thread.
// Members are declared in the order they are opened, so they close in reverse.
class DecodeSession {
 public:
  DecodeSession(GetAudioInfoProc pfnInfo, GetDecoderDataProc pfnData, void* pUser)
      : pfnInfo_(pfnInfo), pfnData_(pfnData), pUser_(pUser) {}
  ~DecodeSession() {
    // The demuxer and its I/O context read from the descriptor: close them first.
    frame_.reset();
    packet_.reset();
    decimator_.reset();
    swr_.reset();
    codec_.reset();
    format_.reset();
    avio_.reset();
    if (nFd_ >= 0) close(nFd_);
  }
  DecodeSession(const DecodeSession&) = delete;
  DecodeSession& operator=(const DecodeSession&) = delete;

  int Open(const char* pszPath);
  int OpenAudioStream();
  int Run();

 private:
  int ReceiveFrames(bool* pbProduced);
  int DeliverFrame(const AVFrame* pFrame);
  int ConfigureResampler(const AVFrame* pFrame);
  int DrainResampler();
  int ConvertAndEmit(const uint8_t** ppIn, int nIn);
  int Emit(const int16_t* pPcm, int nSamples);

  GetAudioInfoProc pfnInfo_;
  GetDecoderDataProc pfnData_;
  void* pUser_;
  int nFd_ = -1;
  std::unique_ptr<AVIOContext, AvioFree> avio_;
  std::unique_ptr<AVFormatContext, FormatClose> format_;
  std::unique_ptr<AVCodecContext, CodecFree> codec_;
  // The conversion in use: the decimator where it reproduces the resampler, else swr_.
  std::unique_ptr<PcmDecimator> decimator_;
  std::unique_ptr<SwrContext, SwrFree> swr_;
  std::unique_ptr<AVPacket, PacketFree> packet_;
  std::unique_ptr<AVFrame, FrameFree> frame_;
  int nStream_ = -1;
  // The resampler's current input; rebuilt when a frame's format differs.
  ChannelLayout swrInLayout_;
  int nSwrInFormat_ = AV_SAMPLE_FMT_NONE;
  int nSwrInRate_ = 0;
  bool bAnnounced_ = false;
  int64_t nLimitBytes_ = 0;  // 0: no limit
  int64_t nDelivered_ = 0;
  bool bStop_ = false;  // the seconds limit was reached
  int nErrors_ = 0;     // decode errors in a row
  std::vector<int16_t> vecPcm_;
};

int DecodeSession::Open(const char* pszPath) {
  // O_NONBLOCK keeps open() from waiting on a FIFO without a writer; fstat then
  // turns away everything but a regular file before a byte is read.
  nFd_ = open(pszPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (nFd_ < 0) return DECODER_ERR_OPEN;
  struct stat st;
  if (fstat(nFd_, &st) != 0 || !S_ISREG(st.st_mode)) return DECODER_ERR_OPEN;

  auto* pBuffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
  if (pBuffer == nullptr) return DECODER_ERR_MEMORY;
  // The opaque pointer is nFd_, which outlives the I/O context.
  avio_.reset(avio_alloc_context(pBuffer, kIoBufferSize, 0, &nFd_, ReadFd, nullptr, SeekFd));
  if (!avio_) {
    av_free(pBuffer);
    return DECODER_ERR_MEMORY;
  }
  AVFormatContext* pFormat = avformat_alloc_context();
  if (pFormat == nullptr) return DECODER_ERR_MEMORY;
  pFormat->pb = avio_.get();
  pFormat->flags |= AVFMT_FLAG_CUSTOM_IO;
  pFormat->io_open = RefuseNestedOpen;
  // Nothing here seeks: no seek index is grown packet by packet.
  pFormat->max_index_size = 1;
  // On failure avformat_open_input frees the context itself.
  if (avformat_open_input(&pFormat, pszPath, nullptr, nullptr) < 0) return DECODER_ERR_OPEN;
  format_.reset(pFormat);
  return 0;
}

// True when the container's header told everything the decode needs: one audio
// stream, its codec, rate and channels. Probing the stream would decode its first
// packets (and set its decoder up) once more, for nothing.
bool HeaderDescribesAudio(const AVFormatContext* pFormat) {
  const AVCodecParameters* pAudio = nullptr;
  for (unsigned i = 0; i < pFormat->nb_streams; ++i) {
    const AVCodecParameters* pPar = pFormat->streams[i]->codecpar;
    if (pPar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    if (pAudio != nullptr) return false;
    pAudio = pPar;
  }
  return pAudio != nullptr && pAudio->codec_id != AV_CODEC_ID_NONE && pAudio->sample_rate > 0 &&
         pAudio->ch_layout.nb_channels > 0;
}

int DecodeSession::OpenAudioStream() {
  // A failure here leaves stream parameters unknown; the best-stream search decides.
  if (!HeaderDescribesAudio(format_.get())) avformat_find_stream_info(format_.get(), nullptr);
  const AVCodec* pCodec = nullptr;
  nStream_ = av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &pCodec, 0);
  if (nStream_ < 0 || pCodec == nullptr) return DECODER_ERR_NO_AUDIO;
  AVStream* pStream = format_->streams[nStream_];
  const AVCodecParameters* pPar = pStream->codecpar;
  if (pPar->ch_layout.nb_channels > kMaxChannels || pPar->sample_rate < 0 ||
      pPar->sample_rate > kMaxSampleRate) {
    return DECODER_ERR_NO_AUDIO;
  }
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    if (static_cast<int>(i) != nStream_) format_->streams[i]->discard = AVDISCARD_ALL;
  }
  codec_.reset(avcodec_alloc_context3(pCodec));
  if (!codec_) return DECODER_ERR_MEMORY;
  if (avcodec_parameters_to_context(codec_.get(), pPar) < 0) return DECODER_ERR_NO_AUDIO;
  codec_->pkt_timebase = pStream->time_base;
  if (avcodec_open2(codec_.get(), pCodec, nullptr) < 0) return DECODER_ERR_NO_AUDIO;
  packet_.reset(av_packet_alloc());
  frame_.reset(av_frame_alloc());
  if (!packet_ || !frame_) return DECODER_ERR_MEMORY;
  return 0;
}

int DecodeSession::Run() {
  int nIdlePackets = 0;
  int nReadStalls = 0;
  while (!bStop_) {
    int nRet = av_read_frame(format_.get(), packet_.get());
    if (nRet == AVERROR(EAGAIN)) {
      if (++nReadStalls > kMaxReadStalls) return DECODER_ERR_DECODE;
      continue;
    }
    if (nRet < 0) break;  // end of file, or a damaged tail: keep what was decoded
    nReadStalls = 0;
    if (packet_->stream_index != nStream_) {
      av_packet_unref(packet_.get());
      continue;
    }
    nRet = avcodec_send_packet(codec_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (nRet == AVERROR(ENOMEM)) return DECODER_ERR_MEMORY;
    if (nRet < 0 && ++nErrors_ > kMaxConsecutiveErrors) return DECODER_ERR_DECODE;
    bool bProduced = false;
    int nResult = ReceiveFrames(&bProduced);
    if (nResult != 0) return nResult;
    nIdlePackets = bProduced ? 0 : nIdlePackets + 1;
    if (nIdlePackets > kMaxIdlePackets) return DECODER_ERR_DECODE;
  }
  if (!bStop_) {
    avcodec_send_packet(codec_.get(), nullptr);
    bool bProduced = false;
    int nResult = ReceiveFrames(&bProduced);
    if (nResult != 0) return nResult;
    nResult = DrainResampler();
    if (nResult != 0) return nResult;
  }
  return nDelivered_ > 0 ? 0 : DECODER_ERR_EMPTY;
}

int DecodeSession::ReceiveFrames(bool* pbProduced) {
  while (!bStop_) {
    int nRet = avcodec_receive_frame(codec_.get(), frame_.get());
    if (nRet == AVERROR(EAGAIN) || nRet == AVERROR_EOF) return 0;
    if (nRet == AVERROR(ENOMEM)) return DECODER_ERR_MEMORY;
    if (nRet < 0) return ++nErrors_ > kMaxConsecutiveErrors ? DECODER_ERR_DECODE : 0;
    nErrors_ = 0;
    *pbProduced = true;
    int nResult = DeliverFrame(frame_.get());
    av_frame_unref(frame_.get());
    if (nResult != 0) return nResult;
  }
  return 0;
}

int DecodeSession::DeliverFrame(const AVFrame* pFrame) {
  if (pFrame->nb_samples <= 0) return 0;
  int nChannels = pFrame->ch_layout.nb_channels;
  if (nChannels < 1 || nChannels > kMaxChannels || pFrame->sample_rate < 1 ||
      pFrame->sample_rate > kMaxSampleRate) {
    return DECODER_ERR_DECODE;
  }
  if (!bAnnounced_) {
    // The first audio decoded is announced; it all leaves as 11025 Hz mono S16.
    if (pfnInfo_(pUser_, kFingerprintRate, 1, 16) != 0) return DECODER_ERR_CALLBACK;
    bAnnounced_ = true;
    if (pUser_ != nullptr) {
      int nSeconds = static_cast<const DecoderUserHeader*>(pUser_)->nSeconds;
      if (nSeconds > 0) nLimitBytes_ = int64_t{nSeconds} * kFingerprintRate * kBytesPerFrame;
    }
  }
  bool bSameInput = (swr_ || decimator_) && pFrame->format == nSwrInFormat_ &&
                    pFrame->sample_rate == nSwrInRate_ &&
                    av_channel_layout_compare(&pFrame->ch_layout, &swrInLayout_.layout) == 0;
  if (!bSameInput) {
    int nResult = ConfigureResampler(pFrame);
    if (nResult != 0) return nResult;
  }
  return ConvertAndEmit(const_cast<const uint8_t**>(pFrame->extended_data), pFrame->nb_samples);
}

// Runs nIn frames of input through the conversion (none: drains it) and hands on
// what comes out.
int DecodeSession::ConvertAndEmit(const uint8_t** ppIn, int nIn) {
  if (decimator_) {
    const int16_t* pOut = nullptr;
    int nOut = ppIn != nullptr ? decimator_->Convert(ppIn, nIn, &pOut) : decimator_->Drain(&pOut);
    return nOut < 0 ? DECODER_ERR_DECODE : Emit(pOut, nOut);
  }
  int nMax = swr_get_out_samples(swr_.get(), nIn);
  if (nMax <= 0) return 0;
  vecPcm_.resize(static_cast<size_t>(nMax));
  uint8_t* pOut = reinterpret_cast<uint8_t*>(vecPcm_.data());
  int nOut = swr_convert(swr_.get(), &pOut, nMax, ppIn, nIn);
  if (nOut < 0) return DECODER_ERR_DECODE;
  return Emit(vecPcm_.data(), nOut);
}

// Hands on what the conversion still holds (its filter delay) at the end of the
// stream, or before a format change replaces it.
int DecodeSession::DrainResampler() {
  return (swr_ || decimator_) && !bStop_ ? ConvertAndEmit(nullptr, 0) : 0;
}

int DecodeSession::ConfigureResampler(const AVFrame* pFrame) {
  int nResult = DrainResampler();
  if (nResult != 0) return nResult;
  decimator_.reset();
  swr_.reset();
  if (swrInLayout_.Assign(pFrame->ch_layout) < 0) return DECODER_ERR_MEMORY;
  nSwrInFormat_ = pFrame->format;
  nSwrInRate_ = pFrame->sample_rate;
  const auto format = static_cast<AVSampleFormat>(nSwrInFormat_);
  decimator_ = PcmDecimator::Create(format, swrInLayout_.layout, nSwrInRate_);
  if (decimator_) return 0;
  swr_.reset(twintone::NewFingerprintResampler(swrInLayout_.layout, format, nSwrInRate_));
  return swr_ ? 0 : DECODER_ERR_DECODE;
}

int DecodeSession::Emit(const int16_t* pPcm, int nSamples) {
  if (nSamples <= 0) return 0;
  int nBytes = nSamples * kBytesPerFrame;
  // The callback's buffer is not const; what it does to the samples stays its own.
  if (pfnData_(pUser_, const_cast<int16_t*>(pPcm), nBytes) != 0) return DECODER_ERR_CALLBACK;
  nDelivered_ += nBytes;
  if (nLimitBytes_ > 0 && nDelivered_ >= nLimitBytes_) bStop_ = true;
  return 0;
}

DecoderTask* TaskOf(void** phTask) {
  if (phTask == nullptr || *phTask == nullptr) return nullptr;
  auto* pTask = static_cast<DecoderTask*>(*phTask);
  return pTask->nMagic == kTaskMagic ? pTask : nullptr;
}

}  // namespace

extern "C" {

void* CreateConverTask(int nType, void* pReserved) {
  if (nType != kTaskFingerprint || pReserved != nullptr) return nullptr;
  SilenceFfmpeg();
  auto* pTask = new (std::nothrow) DecoderTask;
  if (pTask != nullptr) pTask->nType = nType;
  return pTask;
}

int DecoderAudio(void** phTask, const char* pszPath, GetAudioInfoProc pfnInfo,
                 GetDecoderDataProc pfnData, void* pUser) {
  DecoderTask* pTask = TaskOf(phTask);
  if (pTask == nullptr || pszPath == nullptr || pfnInfo == nullptr || pfnData == nullptr) {
    return DECODER_ERR_ARGUMENT;
  }
  SilenceFfmpeg();
  try {
    DecodeSession session(pfnInfo, pfnData, pUser);
    int nResult = session.Open(pszPath);
    if (nResult == 0) nResult = session.OpenAudioStream();
    if (nResult == 0) nResult = session.Run();
    return nResult;
  } catch (const std::bad_alloc&) {
    return DECODER_ERR_MEMORY;
  } catch (...) {
    return DECODER_ERR_DECODE;
  }
}

int DestroyConvertTask(void** phTask) {
  if (phTask == nullptr) return -1;
  auto* pTask = static_cast<DecoderTask*>(*phTask);
  if (pTask != nullptr) {
    pTask->nMagic = 0;
    delete pTask;
    *phTask = nullptr;
  }
  return 0;
}

}  // extern "C"
