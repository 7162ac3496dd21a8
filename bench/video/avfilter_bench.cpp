// FFmpeg's libavfilter doing the BGRA work of the Velmor functions on the same frame sizes:
// hflip (MirrorRGBA), vflip (FlipRGBA), transpose (RotateRGBA) and overlay with alpha (DrawOnto
// blend). For comparison only.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace {

AVFrame* MakeFrame(int w, int h, int64_t pts, uint32_t seed) {
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_BGRA;
    f->width = w;
    f->height = h;
    if (av_frame_get_buffer(f, 64) < 0) {
        av_frame_free(&f);
        return nullptr;
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* row = f->data[0] + static_cast<ptrdiff_t>(y) * f->linesize[0];
        for (int x = 0; x < w * 4; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] = static_cast<uint8_t>(seed >> 24);
        }
    }
    f->pts = pts;
    return f;
}

class Graph {
public:
    Graph(const char* description, int w, int h, int inputs) {
        graph_ = avfilter_graph_alloc();
        graph_->nb_threads = 1;  // one thread, like the Velmor functions
        AVFilterInOut* outs = nullptr;
        for (int i = inputs - 1; i >= 0; --i) {
            char args[160], name[16];
            std::snprintf(args, sizeof args,
                          "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1", w, h,
                          static_cast<int>(AV_PIX_FMT_BGRA));
            std::snprintf(name, sizeof name, "in%d", i);
            if (avfilter_graph_create_filter(&src_[i], avfilter_get_by_name("buffer"), name, args,
                                             nullptr, graph_) < 0) {
                return;
            }
            AVFilterInOut* io = avfilter_inout_alloc();
            io->name = av_strdup(name);
            io->filter_ctx = src_[i];
            io->pad_idx = 0;
            io->next = outs;
            outs = io;
        }
        if (avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr,
                                         nullptr, graph_) < 0) {
            return;
        }
        AVFilterInOut* ins = avfilter_inout_alloc();
        ins->name = av_strdup("out");
        ins->filter_ctx = sink_;
        ins->pad_idx = 0;
        ins->next = nullptr;
        ok_ = avfilter_graph_parse_ptr(graph_, description, &ins, &outs, nullptr) >= 0 &&
              avfilter_graph_config(graph_, nullptr) >= 0;
        avfilter_inout_free(&ins);
        avfilter_inout_free(&outs);
    }
    ~Graph() { avfilter_graph_free(&graph_); }
    bool ok() const { return ok_; }
    // Pushes `frame` (kept by the caller when keep is true, handed over otherwise) into input i.
    bool Push(int i, AVFrame* frame, bool keep) {
        return av_buffersrc_add_frame_flags(src_[i], frame,
                                            keep ? AV_BUFFERSRC_FLAG_KEEP_REF : 0) >= 0;
    }
    bool Pull(AVFrame* out) { return av_buffersink_get_frame(sink_, out) >= 0; }

private:
    AVFilterGraph* graph_ = nullptr;
    AVFilterContext* src_[2] = {nullptr, nullptr};
    AVFilterContext* sink_ = nullptr;
    bool ok_ = false;
};

void Report(benchmark::State& st, int w, int h) {
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations()) * w * h * 4);
}

void BM_AvSingle(benchmark::State& st, const char* description) {
    const int w = static_cast<int>(st.range(0)), h = static_cast<int>(st.range(1));
    Graph g(description, w, h, 1);
    AVFrame* in = MakeFrame(w, h, 0, 7);
    AVFrame* out = av_frame_alloc();
    if (!g.ok() || !in) {
        st.SkipWithError("libavfilter graph failed");
        return;
    }
    int64_t pts = 0;
    for (auto _ : st) {
        in->pts = pts++;
        if (!g.Push(0, in, true) || !g.Pull(out)) {
            st.SkipWithError("no frame out");
            break;
        }
        benchmark::DoNotOptimize(out->data[0]);
        av_frame_unref(out);
    }
    av_frame_free(&in);
    av_frame_free(&out);
    Report(st, w, h);
}

// Overlay blends a full-frame BGRA picture with alpha onto the main frame in place; the output
// frame is fed back as the next main input so that no copy is made for writability.
void BM_AvOverlay(benchmark::State& st) {
    const int w = static_cast<int>(st.range(0)), h = static_cast<int>(st.range(1));
    Graph g("[in0][in1]overlay=format=rgb:eof_action=repeat[out]", w, h, 2);
    AVFrame* main = MakeFrame(w, h, 0, 7);
    AVFrame* pic = MakeFrame(w, h, 0, 99);
    if (!g.ok() || !main || !pic) {
        st.SkipWithError("libavfilter graph failed");
        return;
    }
    int64_t pts = 0;
    for (auto _ : st) {
        main->pts = pts;
        pic->pts = pts++;
        if (!g.Push(1, pic, true) || !g.Push(0, main, false) || !g.Pull(main)) {
            st.SkipWithError("no frame out");
            break;
        }
        benchmark::DoNotOptimize(main->data[0]);
    }
    av_frame_free(&main);
    av_frame_free(&pic);
    Report(st, w, h);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);
}

BENCHMARK_CAPTURE(BM_AvSingle, hflip, "[in0]hflip[out]")->Name("BM_AvHflip<kBGRA>")->Apply(Sizes);
BENCHMARK_CAPTURE(BM_AvSingle, vflip, "[in0]vflip[out]")->Name("BM_AvVflip<kBGRA>")->Apply(Sizes);
BENCHMARK_CAPTURE(BM_AvSingle, transpose, "[in0]transpose=dir=clock[out]")
    ->Name("BM_AvTranspose<kBGRA>")
    ->Apply(Sizes);
BENCHMARK(BM_AvOverlay)->Name("BM_AvOverlay<kBGRA>")->Apply(Sizes);

}  // namespace
