#pragma once
// FFmpeg's functions, loaded at the first file that needs them. Linked in, FFmpeg and the ~150
// codec libraries it pulls cost every process 0.1-0.2 s at start, most of which read no file of
// FFmpeg's. The headers still give the types, so every call is checked as a direct one would be.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
}

#define TINTWAVE_FFMPEG_FUNCTIONS(X)                                                                        \
  X(av_dict_free) X(av_dict_get) X(av_dict_set) X(av_frame_alloc) X(av_frame_free) X(av_frame_unref)       \
  X(av_free) X(av_freep) X(av_get_bytes_per_sample) X(av_get_media_type_string) X(av_get_packed_sample_fmt) \
  X(av_log_set_level) X(av_malloc) X(av_packet_alloc) X(av_packet_free) X(av_packet_unref) X(av_read_frame) \
  X(av_rescale_q) X(av_sample_fmt_is_planar) X(av_seek_frame) X(avcodec_alloc_context3)                    \
  X(avcodec_find_decoder) X(avcodec_flush_buffers) X(avcodec_free_context) X(avcodec_get_name)             \
  X(avcodec_open2) X(avcodec_parameters_to_context) X(avcodec_receive_frame) X(avcodec_send_packet)        \
  X(avformat_alloc_context) X(avformat_close_input) X(avformat_find_stream_info) X(avformat_open_input)    \
  X(avformat_seek_file) X(avio_alloc_context) X(avio_context_free)

struct FfmpegFunctions {
#define TINTWAVE_FFMPEG_POINTER(name) decltype(&::name) name = nullptr;
  TINTWAVE_FFMPEG_FUNCTIONS(TINTWAVE_FFMPEG_POINTER)
#undef TINTWAVE_FFMPEG_POINTER
};

// The functions, loaded once per process (any thread). Throws SoundError naming the library
// when FFmpeg cannot be loaded; the files it reads then fail to open with that text.
const FfmpegFunctions& Ffmpeg();
