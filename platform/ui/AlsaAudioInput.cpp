#include "platform/ui/AlsaAudioInput.h"

#include "platform/core/Clock.h"
#include "platform/core/RunLoop.h"

#include <alsa/asoundlib.h>

namespace ui {

namespace {
constexpr int kWaitMs = 100;

// The library's own messages go to standard error; ours are in lastError().
void quiet(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

AlsaAudioInput::AlsaAudioInput(std::string device) : device_(std::move(device)) {
    static bool silenced = (snd_lib_error_set_handler(quiet), true);
    (void)silenced;
}

AlsaAudioInput::~AlsaAudioInput() { stop(); }

bool AlsaAudioInput::start(const Format& format, BufferHandler onBuffer) {
    if (running_) return false;
    if (!isUsable(format)) {
        error_ = "unusable format";
        return false;
    }
    snd_pcm_t* pcm = nullptr;
    int rc = snd_pcm_open(&pcm, device_.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (rc < 0) {
        error_ = snd_strerror(rc);
        return false;
    }
    rc = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(format.channels),
                            unsigned(format.sampleRate), 1, 500000);
    if (rc < 0) {
        error_ = snd_strerror(rc);
        snd_pcm_close(pcm);
        return false;
    }
    format_ = format;
    handler_ = std::move(onBuffer);
    running_ = true;
    uint64_t gen = ++*generation_;
    auto generation = generation_;
    std::weak_ptr<std::atomic<uint64_t>> weakGen = generation_;
    size_t frames = format.framesPerBuffer;
    int channels = format.channels;
    // The owner outlives the thread (stop joins it), so `this` is safe to
    // post to while the generation matches.
    thread_ = sys::Thread(
        [this, pcm, frames, channels, gen, weakGen](const std::atomic<bool>& stop) {
            std::vector<int16_t> buf(frames * size_t(channels));
            size_t have = 0;
            snd_pcm_start(pcm);
            while (!stop.load()) {
                int w;
                {
                    sys::Clock::IdleScope idle;
                    w = snd_pcm_wait(pcm, kWaitMs);
                }
                if (w < 0) {
                    if (snd_pcm_recover(pcm, w, 1) < 0) break;
                    continue;
                }
                if (w == 0) continue;
                snd_pcm_sframes_t n = snd_pcm_readi(pcm, buf.data() + have * size_t(channels), frames - have);
                if (n == -EAGAIN) continue;
                if (n < 0) {
                    if (snd_pcm_recover(pcm, int(n), 1) < 0) break;
                    continue;
                }
                have += size_t(n);
                if (have < frames) continue;
                have = 0;
                std::vector<int16_t> out = buf;
                sys::RunLoop::main().post([this, out, gen, weakGen] {
                    auto g = weakGen.lock();
                    if (g && g->load() == gen) deliver(out);
                });
            }
            snd_pcm_drop(pcm);
            snd_pcm_close(pcm);
        },
        "audio-input");
    return true;
}

void AlsaAudioInput::stop() {
    if (!running_) return;
    running_ = false;
    ++*generation_;
    thread_.requestStop();
    thread_.join();
    handler_ = nullptr;
}

}  // namespace ui
