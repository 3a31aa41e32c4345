#include "analysis/quality_reader.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

namespace twintone {
namespace {

constexpr int kIoBufferSize = 64 * 1024;
constexpr int kMaxChannels = 32;
constexpr int kMaxSampleRate = 1536000;
// Bounds on hostile input, as the fingerprint decoder has them: decode errors in a
// row, audio packets in a row without a sample, stalled reads in a row.
constexpr int kMaxConsecutiveErrors = 64;
constexpr int kMaxIdlePackets = 4096;
constexpr int kMaxReadStalls = 64;

int ReadFd(void* pOpaque, uint8_t* pBuf, int nSize) {
  const int nFd = *static_cast<int*>(pOpaque);
  for (;;) {
    const ssize_t nRead = read(nFd, pBuf, static_cast<size_t>(nSize));
    if (nRead > 0) return static_cast<int>(nRead);
    if (nRead == 0) return AVERROR_EOF;
    if (errno != EINTR) return AVERROR(errno);
  }
}

int64_t SeekFd(void* pOpaque, int64_t nOffset, int nWhence) {
  const int nFd = *static_cast<int*>(pOpaque);
  nWhence &= ~AVSEEK_FORCE;
  if (nWhence == AVSEEK_SIZE) {
    struct stat st;
    return fstat(nFd, &st) != 0 ? AVERROR(errno) : static_cast<int64_t>(st.st_size);
  }
  const off_t nPos = lseek(nFd, static_cast<off_t>(nOffset), nWhence);
  return nPos < 0 ? AVERROR(errno) : static_cast<int64_t>(nPos);
}

// Everything is read through the one descriptor: a playlist entry or a reference to
// another file is refused.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

struct AvioFree {
  void operator()(AVIOContext* p) const {
    av_freep(&p->buffer);  // FFmpeg may have replaced it: free the current one
    avio_context_free(&p);
  }
};
struct FormatClose {
  void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};
struct CodecFree {
  void operator()(AVCodecContext* p) const { avcodec_free_context(&p); }
};
struct SwrFree {
  void operator()(SwrContext* p) const { swr_free(&p); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
  void operator()(AVFrame* p) const { av_frame_free(&p); }
};

// FFmpeg's log level is process-wide; like the fingerprint decoder, the measures set
// it to quiet, so that damaged files print nothing on the host's standard error.
void SilenceFfmpeg() {
  static std::once_flag s_once;
  std::call_once(s_once, [] { av_log_set_level(AV_LOG_QUIET); });
}

}  // namespace

// Declared in opening order, so they are released in reverse: the demuxer before the
// I/O context it reads through.
struct QualityReader::Ffmpeg {
  std::unique_ptr<AVIOContext, AvioFree> avio;
  std::unique_ptr<AVFormatContext, FormatClose> format;
  std::unique_ptr<AVCodecContext, CodecFree> codec;
  std::unique_ptr<SwrContext, SwrFree> swr;
  std::unique_ptr<AVPacket, PacketFree> packet;
  std::unique_ptr<AVFrame, FrameFree> frame;
  AVChannelLayout outLayout{};
  // The converter's input; it is rebuilt when a frame's format differs.
  AVChannelLayout inLayout{};
  int nInFormat = AV_SAMPLE_FMT_NONE;
  int nInRate = 0;

  ~Ffmpeg() {
    av_channel_layout_uninit(&outLayout);
    av_channel_layout_uninit(&inLayout);
  }
};

QualityReader::QualityReader(const std::atomic<bool>* pbCancel) : pbCancel_(pbCancel) {}

QualityReader::~QualityReader() {
  ff_.reset();  // FFmpeg reads from the descriptor: release it first
  if (nFd_ >= 0) close(nFd_);
}

bool QualityReader::Open(const char* pszPath) {
  SilenceFfmpeg();
  // O_NONBLOCK keeps open() from waiting on a FIFO without a writer; fstat then turns
  // away everything but a regular file before a byte is read.
  nFd_ = open(pszPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (nFd_ < 0 || fstat(nFd_, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  ff_ = std::make_unique<Ffmpeg>();

  auto* pBuffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
  if (pBuffer == nullptr) return false;
  ff_->avio.reset(avio_alloc_context(pBuffer, kIoBufferSize, 0, &nFd_, ReadFd, nullptr, SeekFd));
  if (!ff_->avio) {
    av_free(pBuffer);
    return false;
  }
  AVFormatContext* pFormat = avformat_alloc_context();
  if (pFormat == nullptr) return false;
  pFormat->pb = ff_->avio.get();
  // Fast seeks go by the container's table of contents or its bitrate, where an exact
  // one would read every packet before the point sought to; a window a little off
  // measures the same.
  pFormat->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_FAST_SEEK;
  pFormat->io_open = RefuseNestedOpen;
  if (avformat_open_input(&pFormat, pszPath, nullptr, nullptr) < 0) return false;  // freed it
  ff_->format.reset(pFormat);
  // Probing decodes the start of every stream, seconds of it for PCM: only when the
  // header leaves the rate, the channels or the length of a lone audio stream unknown.
  const AVStream* pOnly = pFormat->nb_streams == 1 ? pFormat->streams[0] : nullptr;
  if (pOnly == nullptr || pOnly->codecpar->codec_type != AVMEDIA_TYPE_AUDIO ||
      pOnly->codecpar->codec_id == AV_CODEC_ID_NONE || pOnly->codecpar->sample_rate <= 0 ||
      pOnly->codecpar->ch_layout.nb_channels <= 0 || pOnly->duration <= 0) {
    avformat_find_stream_info(pFormat, nullptr);  // a failure leaves parameters unknown
  }

  const AVCodec* pCodec = nullptr;
  nStream_ = av_find_best_stream(pFormat, AVMEDIA_TYPE_AUDIO, -1, -1, &pCodec, 0);
  if (nStream_ < 0 || pCodec == nullptr) return false;
  const AVStream* pStream = pFormat->streams[nStream_];
  const AVCodecParameters* pPar = pStream->codecpar;
  nRate_ = pPar->sample_rate;
  nChannels_ = pPar->ch_layout.nb_channels;
  if (nChannels_ < 1 || nChannels_ > kMaxChannels || nRate_ < 1 || nRate_ > kMaxSampleRate) {
    return false;
  }
  for (unsigned i = 0; i < pFormat->nb_streams; ++i) {
    if (static_cast<int>(i) != nStream_) pFormat->streams[i]->discard = AVDISCARD_ALL;
  }
  const AVCodecDescriptor* pDesc = avcodec_descriptor_get(pPar->codec_id);
  bLossless_ = pDesc != nullptr && (pDesc->props & AV_CODEC_PROP_LOSSLESS) != 0;
  if (pStream->duration != AV_NOPTS_VALUE && pStream->duration > 0) {
    nDurationMs_ = av_rescale_q(pStream->duration, pStream->time_base, AVRational{1, 1000});
  } else if (pFormat->duration != AV_NOPTS_VALUE && pFormat->duration > 0) {
    nDurationMs_ = pFormat->duration / (AV_TIME_BASE / 1000);
  }

  ff_->codec.reset(avcodec_alloc_context3(pCodec));
  if (!ff_->codec || avcodec_parameters_to_context(ff_->codec.get(), pPar) < 0) return false;
  ff_->codec->pkt_timebase = pStream->time_base;
  if (avcodec_open2(ff_->codec.get(), pCodec, nullptr) < 0) return false;
  // An opened decoder knows what it will deliver (HE-AAC's spectral band replication
  // doubles the rate the container states).
  const AVCodecContext* pOpened = ff_->codec.get();
  if (pOpened->sample_rate > 0 && pOpened->sample_rate <= kMaxSampleRate) {
    nRate_ = pOpened->sample_rate;
  }
  ff_->packet.reset(av_packet_alloc());
  ff_->frame.reset(av_frame_alloc());
  if (!ff_->packet || !ff_->frame) return false;
  if (pPar->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
      av_channel_layout_copy(&ff_->outLayout, &pPar->ch_layout) < 0) {
    av_channel_layout_default(&ff_->outLayout, nChannels_);
  }
  vecPlanes_.resize(static_cast<size_t>(nChannels_));
  vecPlanePtrs_.resize(static_cast<size_t>(nChannels_));
  return true;
}

bool QualityReader::Seek(int64_t nMs) {
  const AVStream* pStream = ff_->format->streams[nStream_];
  int64_t nTs = av_rescale_q(nMs, AVRational{1, 1000}, pStream->time_base);
  if (pStream->start_time != AV_NOPTS_VALUE) nTs += pStream->start_time;
  if (av_seek_frame(ff_->format.get(), nStream_, nTs, AVSEEK_FLAG_BACKWARD) < 0) return false;
  avcodec_flush_buffers(ff_->codec.get());
  return true;
}

QualityReader::ReadEnd QualityReader::Read(const Sink& sink) {
  AVFormatContext* pFormat = ff_->format.get();
  AVCodecContext* pCodec = ff_->codec.get();
  AVPacket* pPacket = ff_->packet.get();
  AVFrame* pFrame = ff_->frame.get();
  int nIdle = 0, nErrors = 0, nStalls = 0;
  bool bDraining = false;
  for (;;) {
    if (pbCancel_ != nullptr && pbCancel_->load(std::memory_order_relaxed)) {
      return ReadEnd::kFailed;
    }
    // What the decoder holds comes out before the next packet goes in (frames a
    // stopped read left behind included), so a packet is never refused as too many.
    bool bProduced = false;
    int nReceived;
    while ((nReceived = avcodec_receive_frame(pCodec, pFrame)) == 0) {
      bProduced = true;
      bool bMore = true;
      const bool bDelivered = Deliver(pFrame, sink, &bMore);
      av_frame_unref(pFrame);
      if (!bDelivered) return ReadEnd::kFailed;
      if (!bMore) return ReadEnd::kStopped;
    }
    if (bDraining) return ReadEnd::kEndOfFile;
    if (nReceived != AVERROR(EAGAIN) && ++nErrors > kMaxConsecutiveErrors) {
      return ReadEnd::kFailed;
    }
    if (bProduced) {
      nIdle = 0;
      nErrors = 0;
    } else if (++nIdle > kMaxIdlePackets) {
      return ReadEnd::kFailed;
    }

    const int nRead = av_read_frame(pFormat, pPacket);
    if (nRead == AVERROR(EAGAIN)) {
      if (++nStalls > kMaxReadStalls) return ReadEnd::kFailed;
      continue;
    }
    nStalls = 0;
    if (nRead < 0) {
      // The end, or a damaged tail: what the decoder still holds comes out.
      bDraining = true;
      avcodec_send_packet(pCodec, nullptr);
      continue;
    }
    const bool bOurs = pPacket->stream_index == nStream_;
    const int nSent = bOurs ? avcodec_send_packet(pCodec, pPacket) : 0;
    av_packet_unref(pPacket);
    if (nSent < 0 && ++nErrors > kMaxConsecutiveErrors) return ReadEnd::kFailed;
  }
}

// Converts one frame to planar float at the stream's rate and channel count and hands
// it over. False when it cannot be converted.
bool QualityReader::Deliver(const AVFrame* pFrame, const Sink& sink, bool* pbMore) {
  if (pFrame->nb_samples <= 0) return true;
  Ffmpeg& ff = *ff_;
  const bool bSameLayout = av_channel_layout_compare(&ff.inLayout, &pFrame->ch_layout) == 0;
  if (!ff.swr || !bSameLayout || ff.nInFormat != pFrame->format ||
      ff.nInRate != pFrame->sample_rate) {
    ff.swr.reset();
    av_channel_layout_uninit(&ff.inLayout);
    if (pFrame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ||
        av_channel_layout_copy(&ff.inLayout, &pFrame->ch_layout) < 0) {
      av_channel_layout_default(&ff.inLayout, pFrame->ch_layout.nb_channels);
    }
    ff.nInFormat = pFrame->format;
    ff.nInRate = pFrame->sample_rate;
    SwrContext* pSwr = nullptr;
    if (pFrame->sample_rate < 1 || pFrame->ch_layout.nb_channels < 1 ||
        pFrame->ch_layout.nb_channels > kMaxChannels ||
        swr_alloc_set_opts2(&pSwr, &ff.outLayout, AV_SAMPLE_FMT_FLTP, nRate_, &ff.inLayout,
                            static_cast<AVSampleFormat>(pFrame->format), pFrame->sample_rate, 0,
                            nullptr) < 0) {
      swr_free(&pSwr);
      return false;
    }
    ff.swr.reset(pSwr);
    if (swr_init(pSwr) < 0) return false;
  }
  const int nRoom = swr_get_out_samples(ff.swr.get(), pFrame->nb_samples);
  if (nRoom <= 0) return true;
  for (int c = 0; c < nChannels_; ++c) {
    vecPlanes_[c].resize(static_cast<size_t>(nRoom));
    vecPlanePtrs_[c] = vecPlanes_[c].data();
  }
  const int nOut =
      swr_convert(ff.swr.get(), reinterpret_cast<uint8_t**>(vecPlanePtrs_.data()), nRoom,
                  const_cast<const uint8_t**>(pFrame->extended_data), pFrame->nb_samples);
  if (nOut < 0) return false;
  if (nOut > 0) *pbMore = sink(vecPlanePtrs_.data(), nOut);
  return true;
}

}  // namespace twintone
