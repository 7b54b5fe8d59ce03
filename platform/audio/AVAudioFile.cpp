#include "platform/audio/AVAudioFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/foundation/NSError.h"

namespace {

constexpr int kFileError = -43; // the platform's "file not found" family

std::string reason(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

[[noreturn]] void fail(const URL& url, const std::string& what) {
    throw NSError(kFileError, "The audio file '" + url.path() + "' " + what);
}

struct FormatInput {
    AVFormatContext* context = nullptr;
    ~FormatInput() { avformat_close_input(&context); }
};
struct CodecContext {
    AVCodecContext* context = nullptr;
    ~CodecContext() { avcodec_free_context(&context); }
};
struct Resampler {
    SwrContext* context = nullptr;
    ~Resampler() { swr_free(&context); }
};
struct Frame {
    AVFrame* frame = av_frame_alloc();
    ~Frame() { av_frame_free(&frame); }
};
struct Packet {
    AVPacket* packet = av_packet_alloc();
    ~Packet() { av_packet_free(&packet); }
};
struct FormatOutput {
    AVFormatContext* context = nullptr;
    ~FormatOutput() {
        if (context && context->pb) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

// Decoded samples, channel by channel.
using Planes = std::vector<std::vector<float>>;

void append(SwrContext* resampler, const AVFrame* frame, Planes& planes) {
    const int room = swr_get_out_samples(resampler, frame ? frame->nb_samples : 0);
    if (room <= 0) return;
    std::vector<std::uint8_t*> out(planes.size());
    const std::size_t at = planes[0].size();
    for (std::size_t c = 0; c < planes.size(); ++c) {
        planes[c].resize(at + static_cast<std::size_t>(room));
        out[c] = reinterpret_cast<std::uint8_t*>(planes[c].data() + at);
    }
    const int got = swr_convert(resampler, out.data(), room,
                                frame ? const_cast<const std::uint8_t**>(frame->extended_data) : nullptr,
                                frame ? frame->nb_samples : 0);
    for (auto& plane : planes) plane.resize(at + static_cast<std::size_t>(std::max(got, 0)));
}

} // namespace

AVAudioFile::AVAudioFile(const URL& url) : url_(url) {
    FormatInput input;
    if (const int error = avformat_open_input(&input.context, url.path().c_str(), nullptr, nullptr);
        error < 0)
        fail(url, "cannot be opened: " + reason(error) + ".");
    if (const int error = avformat_find_stream_info(input.context, nullptr); error < 0)
        fail(url, "cannot be read: " + reason(error) + ".");
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(input.context, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream < 0 || !codec) fail(url, "holds no audio that can be decoded.");

    CodecContext decoder;
    decoder.context = avcodec_alloc_context3(codec);
    if (!decoder.context ||
        avcodec_parameters_to_context(decoder.context, input.context->streams[stream]->codecpar) < 0 ||
        avcodec_open2(decoder.context, codec, nullptr) < 0)
        fail(url, "cannot be decoded.");
    if (decoder.context->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&decoder.context->ch_layout, decoder.context->ch_layout.nb_channels);
    const int channels = decoder.context->ch_layout.nb_channels;
    const int rate = decoder.context->sample_rate;
    if (channels <= 0 || rate <= 0) fail(url, "has no channels or no sample rate.");

    Resampler resampler;
    if (swr_alloc_set_opts2(&resampler.context, &decoder.context->ch_layout, AV_SAMPLE_FMT_FLTP, rate,
                            &decoder.context->ch_layout, decoder.context->sample_fmt, rate, 0, nullptr) < 0 ||
        swr_init(resampler.context) < 0)
        fail(url, "cannot be converted to float.");

    Planes planes(static_cast<std::size_t>(channels));
    Packet packet;
    Frame frame;
    auto receive = [&] {
        int result;
        while ((result = avcodec_receive_frame(decoder.context, frame.frame)) >= 0) {
            append(resampler.context, frame.frame, planes);
            av_frame_unref(frame.frame);
        }
        if (result != AVERROR(EAGAIN) && result != AVERROR_EOF)
            fail(url, "is damaged: " + reason(result) + ".");
    };
    while (av_read_frame(input.context, packet.packet) >= 0) {
        if (packet.packet->stream_index == stream) {
            const int sent = avcodec_send_packet(decoder.context, packet.packet);
            av_packet_unref(packet.packet);
            if (sent < 0 && sent != AVERROR(EAGAIN)) fail(url, "is damaged: " + reason(sent) + ".");
            receive();
        } else {
            av_packet_unref(packet.packet);
        }
    }
    avcodec_send_packet(decoder.context, nullptr);
    receive();
    append(resampler.context, nullptr, planes);
    if (planes[0].empty()) fail(url, "holds no audio frames.");

    auto buffer = std::make_shared<AVAudioPCMBuffer>(
        AVAudioFormat::standardFormat(rate, static_cast<AVAudioChannelCount>(channels)),
        static_cast<AVAudioFrameCount>(planes[0].size()));
    for (std::size_t c = 0; c < planes.size(); ++c)
        std::copy(planes[c].begin(), planes[c].end(),
                  buffer->channelData(static_cast<AVAudioChannelCount>(c)));
    buffer->setFrameLength(static_cast<AVAudioFrameCount>(planes[0].size()));
    buffer_ = std::move(buffer);
}

void AVAudioFile::writeLossless(const URL& url, const AVAudioPCMBuffer& buffer) {
    const AVAudioChannelCount channels = buffer.format()->channelCount();
    const int rate = static_cast<int>(buffer.format()->sampleRate());
    FormatOutput output;
    if (avformat_alloc_output_context2(&output.context, nullptr, "ipod", url.path().c_str()) < 0 ||
        !output.context)
        fail(url, "cannot be made.");
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_ALAC);
    if (!codec) fail(url, "cannot be encoded: there is no ALAC encoder.");
    CodecContext encoder;
    encoder.context = avcodec_alloc_context3(codec);
    encoder.context->sample_fmt = AV_SAMPLE_FMT_S32P;
    encoder.context->bits_per_raw_sample = 24;
    encoder.context->sample_rate = rate;
    encoder.context->time_base = AVRational{1, rate};
    av_channel_layout_default(&encoder.context->ch_layout, static_cast<int>(channels));
    if (output.context->oformat->flags & AVFMT_GLOBALHEADER)
        encoder.context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (const int error = avcodec_open2(encoder.context, codec, nullptr); error < 0)
        fail(url, "cannot be encoded: " + reason(error) + ".");
    AVStream* stream = avformat_new_stream(output.context, nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, encoder.context) < 0)
        fail(url, "cannot be made.");
    stream->time_base = encoder.context->time_base;
    if (const int error = avio_open(&output.context->pb, url.path().c_str(), AVIO_FLAG_WRITE); error < 0)
        fail(url, "cannot be written: " + reason(error) + ".");
    if (const int error = avformat_write_header(output.context, nullptr); error < 0)
        fail(url, "cannot be written: " + reason(error) + ".");

    Packet packet;
    auto drain = [&] {
        while (avcodec_receive_packet(encoder.context, packet.packet) >= 0) {
            av_packet_rescale_ts(packet.packet, encoder.context->time_base, stream->time_base);
            packet.packet->stream_index = stream->index;
            if (const int error = av_interleaved_write_frame(output.context, packet.packet); error < 0)
                fail(url, "cannot be written: " + reason(error) + ".");
        }
    };
    const int frameSize = encoder.context->frame_size > 0 ? encoder.context->frame_size : 4096;
    Frame frame;
    for (AVAudioFrameCount at = 0; at < buffer.frameLength();) {
        const int n = static_cast<int>(std::min<AVAudioFrameCount>(static_cast<AVAudioFrameCount>(frameSize),
                                                                   buffer.frameLength() - at));
        frame.frame->nb_samples = n;
        frame.frame->format = encoder.context->sample_fmt;
        frame.frame->sample_rate = rate;
        av_channel_layout_copy(&frame.frame->ch_layout, &encoder.context->ch_layout);
        frame.frame->pts = at;
        if (av_frame_get_buffer(frame.frame, 0) < 0) fail(url, "cannot be encoded: out of memory.");
        for (AVAudioChannelCount c = 0; c < channels; ++c) {
            const float* from = buffer.channelData(c) + at;
            auto* to = reinterpret_cast<std::int32_t*>(frame.frame->extended_data[c]);
            for (int i = 0; i < n; ++i) {
                // 24 bits in the top of 32, as the encoder takes them.
                const double scaled =
                    std::round(std::clamp(static_cast<double>(from[i]), -1.0, 1.0) * 8388607.0);
                to[i] = static_cast<std::int32_t>(scaled) * 256;
            }
        }
        if (const int error = avcodec_send_frame(encoder.context, frame.frame); error < 0)
            fail(url, "cannot be encoded: " + reason(error) + ".");
        av_frame_unref(frame.frame);
        drain();
        at += static_cast<AVAudioFrameCount>(n);
    }
    avcodec_send_frame(encoder.context, nullptr);
    drain();
    if (const int error = av_write_trailer(output.context); error < 0)
        fail(url, "cannot be written: " + reason(error) + ".");
}
