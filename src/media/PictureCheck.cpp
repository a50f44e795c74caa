#include "media/PictureCheck.h"

#include "core/Handoff.h"
#include "media/ExactEdges.h"
#include "media/FrameCompare.h"

#include <cstdio>
#include <mutex>
#include <thread>

namespace trimora {

namespace {

enum Kind { Begin, Source, Picture, End };

struct Item
{
    int run = 0;
    int kind = Begin;
    std::int64_t pts = 0;
    FramePtr frame;
    PacketPtr packet;
};

// Enough to keep both threads busy without holding many pictures.
constexpr std::size_t queued = 24;

struct ParametersFreer
{
    void operator()(AVCodecParameters *par) const { avcodec_parameters_free(&par); }
};

} // namespace

struct PictureCheck::Worker
{
    Worker(const AVCodecParameters *parameters, AVRational timeBase,
           std::function<bool()> cancelled)
        : m_parameters(avcodec_parameters_alloc()), m_timeBase(timeBase),
          m_cancelled(std::move(cancelled))
    {
        if (!m_parameters || avcodec_parameters_copy(m_parameters.get(), parameters) < 0)
            m_failure = "out of memory";
        m_thread = std::jthread([this] { work(); });
    }

    ~Worker() { m_items.close(); }

    std::string at(std::int64_t pts) const
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(pts) * av_q2d(m_timeBase));
        return text;
    }

    void work()
    {
        while (std::optional<Item> item = m_items.take()) {
            if (!m_failure.empty())
                continue;
            if (m_cancelled())
                m_failure = "cancelled";
            else
                m_failure = handle(*item);
            if (!m_failure.empty())
                m_items.close();
        }
        m_runs.clear();
    }

    struct Run
    {
        CodecContextPtr decoder;
        std::map<std::int64_t, FramePtr> sources;
    };

    std::string handle(Item &item)
    {
        Run &run = m_runs[item.run];
        switch (item.kind) {
        case Begin: {
            std::string failure;
            run.decoder = openDecoder(m_parameters.get(), m_timeBase, failure, 2, true);
            return run.decoder ? std::string() : "decoding: " + failure;
        }
        case Source:
            run.sources[item.pts] = std::move(item.frame);
            return {};
        case Picture:
            if (const int sent = avcodec_send_packet(run.decoder.get(), item.packet.get());
                sent < 0)
                return "decoding: the picture at " + at(item.packet->pts) +
                       " does not decode: " + avErrorString(sent);
            return receive(item.run, run);
        default:
            avcodec_send_packet(run.decoder.get(), nullptr);
            if (std::string failure = receive(item.run, run); !failure.empty())
                return failure;
            if (!run.sources.empty())
                return "decoding: the re-encoded picture at " + at(run.sources.begin()->first) +
                       " did not come out of the decoder";
            m_runs.erase(item.run);
            return {};
        }
    }

    std::string receive(int key, Run &run)
    {
        for (;;) {
            const int got = avcodec_receive_frame(run.decoder.get(), m_frame.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF)
                return {};
            if (got < 0)
                return "decoding: a picture does not decode: " + avErrorString(got);
            const std::int64_t pts = m_frame->best_effort_timestamp;
            if (m_frame->decode_error_flags != 0 || (m_frame->flags & AV_FRAME_FLAG_CORRUPT))
                return "decoding: the picture at " + at(pts) + " decodes with errors";
            Decoded &decoded = m_decoded[{key, pts}];
            decoded.digest = frameDigest(m_frame.get());
            if (const auto source = run.sources.find(pts); source != run.sources.end()) {
                const std::optional<double> psnr = framePsnr(m_frame.get(), source->second.get());
                if (!psnr)
                    return "decoding: the re-encoded picture at " + at(pts) +
                           " has another size or format than the source's";
                decoded.psnr = std::min(*psnr, 100.0);
                run.sources.erase(source);
            }
            av_frame_unref(m_frame.get());
        }
    }

    std::unique_ptr<AVCodecParameters, ParametersFreer> m_parameters;
    AVRational m_timeBase;
    std::function<bool()> m_cancelled;
    Handoff<Item> m_items{queued};
    FramePtr m_frame{av_frame_alloc()};
    std::map<int, Run> m_runs;
    std::map<Key, Decoded> m_decoded;
    std::string m_failure;
    std::jthread m_thread; // last: it starts once the rest is in place
};

PictureCheck::PictureCheck(const AVCodecParameters *parameters, AVRational timeBase,
                           std::function<bool()> cancelled)
{
    for (std::unique_ptr<Worker> &worker : m_workers)
        worker = std::make_unique<Worker>(parameters, timeBase, cancelled);
}

PictureCheck::~PictureCheck() = default;

int PictureCheck::beginRun()
{
    const int run = m_runs++;
    send(run, Begin, 0, nullptr, nullptr);
    return run;
}

bool PictureCheck::measure(int run, std::int64_t pts, FramePtr source)
{
    return send(run, Source, pts, std::move(source), nullptr);
}

bool PictureCheck::picture(int run, const AVPacket &packet)
{
    PacketPtr copy(av_packet_clone(&packet));
    return copy && send(run, Picture, packet.pts, nullptr, std::move(copy));
}

bool PictureCheck::endRun(int run)
{
    return send(run, End, 0, nullptr, nullptr);
}

bool PictureCheck::send(int run, int kind, std::int64_t pts, FramePtr frame, PacketPtr packet)
{
    Item item;
    item.run = run;
    item.kind = kind;
    item.pts = pts;
    item.frame = std::move(frame);
    item.packet = std::move(packet);
    return m_workers[run % 2]->m_items.give(std::move(item));
}

std::string PictureCheck::finish()
{
    std::string failure;
    for (std::unique_ptr<Worker> &worker : m_workers) {
        worker->m_items.close();
        if (worker->m_thread.joinable())
            worker->m_thread.join();
        if (failure.empty() || failure == "cancelled")
            failure = worker->m_failure.empty() ? failure : worker->m_failure;
        m_decoded.merge(worker->m_decoded);
    }
    return failure;
}

} // namespace trimora
