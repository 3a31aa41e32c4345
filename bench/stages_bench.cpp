// Where a first fingerprint run's time goes, stage by stage, on one thread: each of
// the whole-run corpus's files (bench_corpus.h) is taken through ever longer chains
// of the work the library does for it, and each stage's time is the difference
// between two chains. The CPU time of the calling thread is counted.
//
//   tags          the tag and property read (TagLib)
//   demux         opening the file and reading the packets of the first 120 s
//   decode        decoding those packets (FFmpeg's decoders)
//   convert       turning the decoded audio into 11025 Hz mono S16, two ways:
//                 FFmpeg's resampler, and the decoder library's decimator
//   fingerprint   Chromaprint's work on the converted audio
//   whole         the library's extraction as a run makes it (tags apart)
// and, for comparison, `fpcalc -raw -length 120` on the same file (user + system time
// of the process).
//
// Usage: twintone_bench_stages [--repetitions=N (3)] [corpus-folder]
#include <benchmark/benchmark.h>
#include <time.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "analysis/fingerprint.h"
#include "analysis/tag_reader.h"
#include "audio_decoder.h"
#include "bench_corpus.h"
#include "bench_run.h"
#include "pcm_decimator.h"

namespace {

using bench_corpus::Fail;
using bench_corpus::kFingerSeconds;

double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

enum class Convert { kNone, kResampler, kDecimator };

struct SwrFree {
  void operator()(SwrContext* pSwr) const { swr_free(&pSwr); }
};

// Opens strPath with FFmpeg and reads the packets of its first 120 s of audio, and
// with bDecode decodes them and puts the audio through the chosen conversion. Stops
// the program on a failure.
void DemuxDecode(const std::string& strPath, bool bDecode, Convert convert) {
  AVFormatContext* pFormat = nullptr;
  if (avformat_open_input(&pFormat, strPath.c_str(), nullptr, nullptr) < 0) Fail("open " + strPath);
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> format(
      pFormat, [](AVFormatContext* p) { avformat_close_input(&p); });
  avformat_find_stream_info(pFormat, nullptr);
  const AVCodec* pCodec = nullptr;
  const int nStream = av_find_best_stream(pFormat, AVMEDIA_TYPE_AUDIO, -1, -1, &pCodec, 0);
  if (nStream < 0) Fail("no audio in " + strPath);
  std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> codec(
      avcodec_alloc_context3(pCodec), [](AVCodecContext* p) { avcodec_free_context(&p); });
  avcodec_parameters_to_context(codec.get(), pFormat->streams[nStream]->codecpar);
  if (avcodec_open2(codec.get(), pCodec, nullptr) < 0) Fail("no decoder for " + strPath);
  std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(),
                                                        [](AVPacket* p) { av_packet_free(&p); });
  std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(),
                                                     [](AVFrame* p) { av_frame_free(&p); });
  std::unique_ptr<SwrContext, SwrFree> swr;
  std::unique_ptr<twintone::PcmDecimator> decimator;
  std::vector<int16_t> vecOut;

  const AVRational timeBase = pFormat->streams[nStream]->time_base;
  const int64_t nLimit = av_rescale(kFingerSeconds, timeBase.den, timeBase.num);
  int64_t nRead = 0;
  while (nRead < nLimit && av_read_frame(pFormat, packet.get()) >= 0) {
    if (packet->stream_index == nStream) {
      nRead += packet->duration;
      if (bDecode && avcodec_send_packet(codec.get(), packet.get()) >= 0) {
        while (avcodec_receive_frame(codec.get(), frame.get()) == 0) {
          const uint8_t** ppIn = const_cast<const uint8_t**>(frame->extended_data);
          const auto fmt = static_cast<AVSampleFormat>(frame->format);
          if (convert == Convert::kResampler) {
            if (!swr)
              swr.reset(
                  twintone::NewFingerprintResampler(frame->ch_layout, fmt, frame->sample_rate));
            vecOut.resize(static_cast<size_t>(swr_get_out_samples(swr.get(), frame->nb_samples)));
            uint8_t* pOut = reinterpret_cast<uint8_t*>(vecOut.data());
            swr_convert(swr.get(), &pOut, static_cast<int>(vecOut.size()), ppIn, frame->nb_samples);
          } else if (convert == Convert::kDecimator) {
            if (!decimator) {
              decimator = twintone::PcmDecimator::Create(fmt, frame->ch_layout, frame->sample_rate);
              if (!decimator) Fail("no decimator for " + strPath);
            }
            const int16_t* pOut = nullptr;
            decimator->Convert(ppIn, frame->nb_samples, &pOut);
          }
          av_frame_unref(frame.get());
        }
      }
    }
    av_packet_unref(packet.get());
  }
}

struct DecodeOnly {
  DecoderUserHeader header{};
};
int AcceptInfo(void*, int, int, int) { return 0; }
int AcceptData(void*, void*, int) { return 0; }

// The decoder library's decode and conversion, the PCM dropped.
void DecoderLibrary(const std::string& strPath) {
  DecodeOnly user;
  user.header.nSeconds = kFingerSeconds;
  void* hTask = CreateConverTask(1, nullptr);
  if (DecoderAudio(&hTask, strPath.c_str(), AcceptInfo, AcceptData, &user) != 0) {
    Fail("decoding " + strPath);
  }
  DestroyConvertTask(&hTask);
}

void WholeExtraction(const std::string& strPath) {
  int32_t* pFinger = nullptr;
  int32_t nLen = 0, nMs = 0;
  if (twintone::FingerprintFile(strPath.c_str(), 0, kFingerSeconds, nullptr, &pFinger, &nLen,
                                &nMs) != 0) {
    Fail("fingerprinting " + strPath);
  }
  free(pFinger);
}

void Tags(const std::string& strPath) {
  DupMusicInfo info;
  if (twintone::ReadDupMusicInfo(strPath.c_str(), &info, twintone::TagTextOptions()) != 0) {
    Fail("reading tags of " + strPath);
  }
}

enum Stage { kTags, kDemux, kDecode, kResample, kDecimate, kLibrary, kWhole, kFpcalc, kStages };

// One file through one chain; returns its CPU seconds (fpcalc: its process's).
double RunChain(int nChain, const std::string& strFile) {
  if (nChain == kFpcalc) {
    bench_run::Clock start = bench_run::Clock::Now();
    bench_corpus::Reap(
        bench_corpus::Spawn({"fpcalc", "-raw", "-length", std::to_string(kFingerSeconds), strFile}),
        "fpcalc on " + strFile);
    return bench_run::Since(start).fCpu;
  }
  const double fStart = ThreadSeconds();
  switch (nChain) {
    case kTags:
      Tags(strFile);
      break;
    case kDemux:
      DemuxDecode(strFile, false, Convert::kNone);
      break;
    case kDecode:
      DemuxDecode(strFile, true, Convert::kNone);
      break;
    case kResample:
      DemuxDecode(strFile, true, Convert::kResampler);
      break;
    case kDecimate:
      DemuxDecode(strFile, true, Convert::kDecimator);
      break;
    case kLibrary:
      DecoderLibrary(strFile);
      break;
    default:
      WholeExtraction(strFile);
      break;
  }
  return ThreadSeconds() - fStart;
}

// Every chain's CPU seconds over vecFiles. Each file goes through all chains in turn,
// so a busy moment of the machine weighs on all of them alike; with repetitions
// each chain's smallest total counts.
std::vector<double> Chains(const std::vector<std::string>& vecFiles, int nRepetitions) {
  std::vector<double> vecBest(kStages, 0);
  for (int r = 0; r < nRepetitions; ++r) {
    std::vector<double> vecSum(kStages, 0);
    for (const std::string& strFile : vecFiles) {
      for (int c = 0; c < kStages; ++c) vecSum[c] += RunChain(c, strFile);
    }
    for (int c = 0; c < kStages; ++c) {
      if (r == 0 || vecSum[c] < vecBest[c]) vecBest[c] = vecSum[c];
    }
  }
  return vecBest;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);  // its flags are accepted and ignored
  av_log_set_level(AV_LOG_QUIET);
  int nRepetitions = 3;
  const char* pszEnv = getenv("TWINTONE_BENCH_CORPUS");
  std::string strDir = pszEnv != nullptr && *pszEnv != '\0' ? pszEnv : "/tmp/twintone-bench-corpus";
  for (int i = 1; i < argc; ++i) {
    if (strncmp(argv[i], "--repetitions=", 14) == 0) {
      nRepetitions = std::max(1, atoi(argv[i] + 14));
    } else if (argv[i][0] == '-') {
      fprintf(stderr, "usage: %s [--repetitions=N] [corpus-folder]\n", argv[0]);
      return 2;
    } else {
      strDir = argv[i];
    }
  }
  bench_corpus::EnsureCorpus(strDir);
  bench_corpus::WarmPageCache(bench_corpus::CorpusFiles(strDir));

  printf(
      "CPU ms per file on one thread, best of %d interleaved passes; a stage is the\n"
      "difference of two chains of work\n\n",
      nRepetitions);
  printf("%-6s %7s %7s %7s %9s %9s %11s %7s %9s\n", "format", "tags", "demux", "decode", "resample",
         "decimate", "fingerprint", "whole", "fpcalc");
  for (const bench_corpus::Format& format : bench_corpus::Formats()) {
    std::vector<std::string> vecFiles;
    for (int m = 0; m < bench_corpus::kMelodies; ++m) {
      vecFiles.push_back(strDir + "/" + bench_corpus::MelodyStem(m) + "." + format.pszExt);
    }
    const std::vector<double> t = Chains(vecFiles, nRepetitions);
    auto perFile = [&](double fSeconds) { return fSeconds * 1000 / vecFiles.size(); };
    printf("%-6s %7.2f %7.2f %7.2f %9.2f %9.2f %11.2f %7.2f %9.2f\n", format.pszExt,
           perFile(t[kTags]), perFile(t[kDemux]), perFile(t[kDecode] - t[kDemux]),
           perFile(t[kResample] - t[kDecode]), perFile(t[kDecimate] - t[kDecode]),
           perFile(t[kWhole] - t[kLibrary]), perFile(t[kWhole]), perFile(t[kFpcalc]));
    fflush(stdout);
  }
  printf(
      "\nwhole: the decoder library and Chromaprint, as a run extracts a fingerprint;\n"
      "fpcalc: user + system time of one fpcalc process per file\n");
  return 0;
}
