#include "tests/support/EncodedAudio.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>
#include <memory>
#include <numbers>

namespace testkit {
namespace {

struct Encoder {
    AVCodecContext* context = nullptr;
    AVFormatContext* output = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    ~Encoder() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        if (output && output->pb) {
            std::uint8_t* bytes = nullptr;
            avio_close_dyn_buf(output->pb, &bytes);
            av_free(bytes);
        }
        avformat_free_context(output);
        avcodec_free_context(&context);
    }
};

void put(AVFrame& frame, int channel, int i, double value) {
    const int channels = frame.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame.format));
    std::uint8_t* plane = frame.extended_data[planar ? channel : 0];
    const int at = planar ? i : i * channels + channel;
    switch (av_get_packed_sample_fmt(static_cast<AVSampleFormat>(frame.format))) {
    case AV_SAMPLE_FMT_S16:
        reinterpret_cast<std::int16_t*>(plane)[at] = static_cast<std::int16_t>(value * 32767);
        break;
    case AV_SAMPLE_FMT_S32:
        reinterpret_cast<std::int32_t*>(plane)[at] = static_cast<std::int32_t>(value * 2147483520.0);
        break;
    case AV_SAMPLE_FMT_FLT:
        reinterpret_cast<float*>(plane)[at] = static_cast<float>(value);
        break;
    default:
        break;
    }
}

bool drain(Encoder& e) {
    while (avcodec_receive_packet(e.context, e.packet) >= 0) {
        e.packet->stream_index = 0;
        if (av_write_frame(e.output, e.packet) < 0) return false;
    }
    return true;
}

std::vector<std::uint8_t> encodePart(const std::string& muxer, const std::string& encoder,
                                     const EncodedPart& part) {
    const AVCodec* codec = avcodec_find_encoder_by_name(encoder.c_str());
    if (!codec || !codec->sample_fmts) return {};
    Encoder e;
    e.context = avcodec_alloc_context3(codec);
    e.context->sample_rate = part.sampleRate;
    e.context->time_base = AVRational{1, part.sampleRate};
    e.context->sample_fmt = codec->sample_fmts[0];
    av_channel_layout_default(&e.context->ch_layout, part.channels);
    if (encoder == "flac") {
        // The longest blocks and the least effort: silence costs a few bytes a block.
        e.context->frame_size = 65535;
        e.context->compression_level = 0;
    } else {
        e.context->bit_rate = 64000 * part.channels; // one the low rates of MPEG-2 allow too
    }
    if (avformat_alloc_output_context2(&e.output, nullptr, muxer.c_str(), nullptr) < 0) return {};
    if (e.output->oformat->flags & AVFMT_GLOBALHEADER) e.context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVStream* stream = avformat_new_stream(e.output, nullptr);
    if (avcodec_open2(e.context, codec, nullptr) < 0 || !stream ||
        avcodec_parameters_from_context(stream->codecpar, e.context) < 0 ||
        avio_open_dyn_buf(&e.output->pb) < 0)
        return {};
    stream->time_base = e.context->time_base;
    if (avformat_write_header(e.output, nullptr) < 0) return {};
    const int block = e.context->frame_size > 0 ? e.context->frame_size : 4096;
    for (std::int64_t at = 0; at < part.frames; at += block) {
        AVFrame& frame = *e.frame;
        frame.nb_samples = static_cast<int>(std::min<std::int64_t>(block, part.frames - at));
        frame.format = e.context->sample_fmt;
        frame.sample_rate = part.sampleRate;
        av_channel_layout_copy(&frame.ch_layout, &e.context->ch_layout);
        frame.pts = at;
        if (av_frame_get_buffer(&frame, 0) < 0) return {};
        av_samples_set_silence(frame.extended_data, 0, frame.nb_samples, part.channels,
                               e.context->sample_fmt);
        for (int c = 0; c < part.channels && part.amplitude != 0.0f; ++c)
            for (int i = 0; i < frame.nb_samples; ++i) {
                const double t = static_cast<double>(at + i) / part.sampleRate;
                put(frame, c, i, part.amplitude * std::sin(2 * std::numbers::pi * partFrequency(c) * t));
            }
        const bool sent = avcodec_send_frame(e.context, &frame) >= 0;
        av_frame_unref(&frame);
        if (!sent || !drain(e)) return {};
    }
    avcodec_send_frame(e.context, nullptr);
    if (!drain(e) || av_write_trailer(e.output) < 0) return {};
    std::uint8_t* bytes = nullptr;
    const int size = avio_close_dyn_buf(e.output->pb, &bytes);
    e.output->pb = nullptr;
    std::vector<std::uint8_t> out(bytes, bytes + std::max(size, 0));
    av_free(bytes);
    return out;
}

} // namespace

std::vector<std::uint8_t> encodedAudio(const std::string& muxer, const std::string& encoder,
                                       const std::vector<EncodedPart>& parts) {
    av_log_set_level(AV_LOG_ERROR);
    std::vector<std::uint8_t> stream;
    for (const EncodedPart& part : parts) {
        const std::vector<std::uint8_t> bytes = encodePart(muxer, encoder, part);
        if (bytes.empty()) return {};
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    return stream;
}

} // namespace testkit
