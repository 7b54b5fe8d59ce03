#include "platform/audio/AVAudioFile.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/audio/AVAudioNode.h"
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
struct Options {
    AVDictionary* entries = nullptr;
    ~Options() { av_dict_free(&entries); }
};

// Samples, channel by channel.
using Planes = std::vector<std::vector<float>>;

// Brings samples of one channel layout, sample format and rate to planar float
// at the output rate, keeping their channels. A stream may change any of the
// three from one frame to the next, so each frame is checked against the set-up.
class Converter {
public:
    Converter() = default;
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() {
        swr_free(&context_);
        av_channel_layout_uninit(&layout_);
    }

    bool ready() const { return context_ != nullptr; }
    bool fits(const AVFrame& frame) const {
        return ready() && frame.format == format_ && frame.sample_rate == rate_ &&
               av_channel_layout_compare(&frame.ch_layout, &layout_) == 0;
    }
    int channels() const { return layout_.nb_channels; }

    // False when these cannot be converted (no channels, no rate, too many channels).
    bool setUp(const AVChannelLayout& layout, int format, int rate, int outputRate) {
        swr_free(&context_);
        av_channel_layout_uninit(&layout_);
        if (layout.nb_channels <= 0 || rate <= 0 || av_channel_layout_copy(&layout_, &layout) < 0)
            return false;
        format_ = format;
        rate_ = rate;
        // Only the count matters when in and out are alike; an unordered layout gets the usual order.
        AVChannelLayout used{};
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&used, layout.nb_channels);
        else if (av_channel_layout_copy(&used, &layout) < 0)
            return false;
        const bool made = swr_alloc_set_opts2(&context_, &used, AV_SAMPLE_FMT_FLTP, outputRate, &used,
                                              static_cast<AVSampleFormat>(format), rate, 0, nullptr) >= 0 &&
                          swr_init(context_) >= 0;
        av_channel_layout_uninit(&used);
        if (!made) swr_free(&context_);
        return made;
    }

    // Frames that `frames` more may come to at most; negative when too many to count.
    int room(int frames) const { return swr_get_out_samples(context_, frames); }

    // Converts `frames` frames of `input` (none: what the converter still
    // holds) into `output`, one plane per channel, replacing what was there.
    int convert(const std::uint8_t* const* input, int frames, Planes& output) {
        const int room = this->room(frames);
        if (room <= 0) return 0;
        output.resize(static_cast<std::size_t>(channels()));
        std::vector<std::uint8_t*> to(output.size());
        for (std::size_t c = 0; c < output.size(); ++c) {
            output[c].resize(static_cast<std::size_t>(room));
            to[c] = reinterpret_cast<std::uint8_t*>(output[c].data());
        }
        return std::max(
            swr_convert(context_, to.data(), room, const_cast<const std::uint8_t**>(input), frames), 0);
    }

private:
    SwrContext* context_ = nullptr;
    AVChannelLayout layout_{};
    int format_ = -1;
    int rate_ = 0;
};

// Collects converted samples up to the cap. A part with more channels than
// those before it adds channels (what was mono is on every one of them); a
// part with fewer goes where the engine's mixing puts it.
class Collector {
public:
    Collector(const URL& url, std::size_t reserveFrames) : url_(url), reserve_(reserveFrames) {}

    // Converts `frames` frames of `input` (none: what the converter still holds) and adds them.
    void take(Converter& converter, const std::uint8_t* const* input, int frames) {
        // A part that alone would pass the cap (a rate of 1 Hz, say) is not even converted.
        const int room = converter.room(frames);
        const auto channels = static_cast<std::int64_t>(std::max<std::size_t>(planes_.size(), 1));
        if (room < 0 || room > AVAudioFile::kMaximumSamples / channels) tooLong();
        add(part_, converter.convert(input, frames, part_));
    }

    bool empty() const { return planes_.empty() || planes_[0].empty(); }
    // The samples, handed over.
    std::shared_ptr<const AVAudioPCMBuffer> buffer(double sampleRate) {
        const auto format =
            AVAudioFormat::standardFormat(sampleRate, static_cast<AVAudioChannelCount>(planes_.size()));
        return std::make_shared<const AVAudioPCMBuffer>(format, std::move(planes_));
    }

private:
    [[noreturn]] void tooLong() const {
        fail(url_, "is too long: it decodes to more than " + std::to_string(AVAudioFile::kMaximumSamples) +
                       " samples (ten minutes of 48 kHz stereo).");
    }

    void add(const Planes& part, int frames) {
        if (frames <= 0) return;
        const std::size_t at = planes_.empty() ? 0 : planes_[0].size();
        if (part.size() > planes_.size()) {
            const std::vector<float> before = planes_.size() == 1 ? planes_[0] : std::vector<float>(at, 0.0f);
            planes_.resize(part.size(), before);
        }
        const std::size_t length = at + static_cast<std::size_t>(frames);
        if (static_cast<std::int64_t>(length) * static_cast<std::int64_t>(planes_.size()) >
            AVAudioFile::kMaximumSamples)
            tooLong();
        std::vector<const float*> from(part.size());
        std::vector<float*> to(planes_.size());
        for (std::size_t c = 0; c < part.size(); ++c) from[c] = part[c].data();
        // Reserved at once, so that a long file is not held twice while its planes grow.
        const std::size_t reserve =
            std::min(reserve_, static_cast<std::size_t>(AVAudioFile::kMaximumSamples) / planes_.size());
        for (std::size_t c = 0; c < planes_.size(); ++c) {
            if (planes_[c].capacity() < reserve) planes_[c].reserve(reserve);
            planes_[c].resize(length);
            to[c] = planes_[c].data() + at;
        }
        mixChannels({from.data(), static_cast<AVAudioChannelCount>(from.size())}, to.data(),
                    static_cast<AVAudioChannelCount>(to.size()), static_cast<std::size_t>(frames), false);
    }

    const URL& url_;
    std::size_t reserve_;
    Planes planes_;
    Planes part_; // what one conversion gives
};

// Frames a file of `duration` (AV_TIME_BASE units) holds at `rate`, within the cap.
std::size_t expectedFrames(std::int64_t duration, int rate, int channels) {
    if (duration <= 0 || rate <= 0 || channels <= 0) return 0;
    const double frames = static_cast<double>(duration) * rate / AV_TIME_BASE + 1.0;
    return static_cast<std::size_t>(
        std::min(frames, static_cast<double>(AVAudioFile::kMaximumSamples / channels)));
}

} // namespace

AVAudioFile::AVAudioFile(const URL& url) : url_(url) {
    // Only a regular file: a pipe or a device would hold the caller in open or read forever.
    struct stat status {};
    if (::stat(url.path().c_str(), &status) != 0)
        fail(url, "cannot be opened: " + reason(AVERROR(errno)) + ".");
    if (!S_ISREG(status.st_mode)) fail(url, "is not a regular file.");
    // The file itself, read as audio: no other protocol, and no container (a
    // playlist, a concatenation) that would open further files.
    Options options;
    av_dict_set(&options.entries, "protocol_whitelist", "file", 0);
    av_dict_set(&options.entries, "format_whitelist", "mov,mp3,aac,flac,wav,aiff,caf,ogg,w64", 0);
    FormatInput input;
    if (const int error =
            avformat_open_input(&input.context, ("file:" + url.path()).c_str(), nullptr, &options.entries);
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

    // The file's rate is its first frame's; every frame is brought to it.
    int rate = 0;
    Converter converter;
    Collector collector(url, expectedFrames(input.context->duration, decoder.context->sample_rate,
                                            std::max(decoder.context->ch_layout.nb_channels, 1)));
    Packet packet;
    Frame frame;
    auto receive = [&] {
        int result;
        while ((result = avcodec_receive_frame(decoder.context, frame.frame)) >= 0) {
            const AVFrame& got = *frame.frame;
            if (!converter.fits(got)) {
                if (rate == 0) rate = got.sample_rate;
                if (converter.ready()) collector.take(converter, nullptr, 0);
                if (!converter.setUp(got.ch_layout, got.format, got.sample_rate, rate))
                    fail(url, "cannot be converted to float: a part has " +
                                  std::to_string(got.ch_layout.nb_channels) + " channels at " +
                                  std::to_string(got.sample_rate) + " Hz.");
            }
            collector.take(converter, got.extended_data, got.nb_samples);
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
    if (converter.ready()) collector.take(converter, nullptr, 0);
    if (collector.empty()) fail(url, "holds no audio frames.");
    buffer_ = collector.buffer(rate);
}

std::shared_ptr<const AVAudioPCMBuffer> AVAudioFile::buffer(double sampleRate) const {
    if (sampleRate == buffer_->format()->sampleRate()) return buffer_;
    MutexLock lock(convertedMutex_);
    if (converted_ && converted_->format()->sampleRate() == sampleRate) return converted_;
    const AVAudioPCMBuffer& from = *buffer_;
    const int inRate = static_cast<int>(from.format()->sampleRate());
    const int outRate = static_cast<int>(std::lround(sampleRate));
    const auto channels = static_cast<int>(from.format()->channelCount());
    Converter converter;
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, channels);
    const bool made = converter.setUp(layout, AV_SAMPLE_FMT_FLTP, inRate, outRate);
    av_channel_layout_uninit(&layout);
    if (!made) fail(url_, "cannot be converted to " + std::to_string(outRate) + " Hz.");
    const double frames = static_cast<double>(from.frameLength()) * outRate / inRate;
    Collector collector(url_, static_cast<std::size_t>(
                                  std::min(frames + 64.0, static_cast<double>(kMaximumSamples / channels))));
    constexpr AVAudioFrameCount kChunk = 65536;
    std::vector<const std::uint8_t*> input(static_cast<std::size_t>(channels));
    for (AVAudioFrameCount at = 0; at < from.frameLength(); at += kChunk) {
        for (int c = 0; c < channels; ++c)
            input[static_cast<std::size_t>(c)] = reinterpret_cast<const std::uint8_t*>(
                from.channelData(static_cast<AVAudioChannelCount>(c)) + at);
        const int n = static_cast<int>(std::min(kChunk, from.frameLength() - at));
        collector.take(converter, input.data(), n);
    }
    collector.take(converter, nullptr, 0);
    converted_ = collector.buffer(outRate);
    return converted_;
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
