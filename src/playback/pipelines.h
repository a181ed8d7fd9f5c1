#pragma once
// Where GStreamer pipelines change state beside the window's thread, so that
// the window never waits on a pipeline for long, and never forever:
// - a pipeline that is let go is stopped and freed on one thread of its own,
//   after every pipeline let go before it;
// - a state change or seek of the playing pipeline runs on a thread of its own
//   while the caller waits a bounded time; a pipeline that does not come back
//   in time is left to that thread, which lets it go when (if ever) it returns;
// - one idle output of the PulseAudio plugin stays open for the life of the
//   process. The plugin frees the connection loop all its outputs share when
//   the last of them closes, and a pipeline's streaming thread that asks its
//   output for formats a moment later locks the freed loop and aborts the
//   process (GStreamer 1.22): with one output always open, that loop is
//   never freed.

#include <QtGlobal>
#include <functional>
#include <gst/gst.h>

namespace pipelines {

// Makes GStreamer ready and starts the thread that stops pipelines.
void Init();
// Takes over bin (and the caller's reference): stopped and freed later, in
// turn. Never waits.
void LetGo(GstElement* bin);
// Runs work in turn with the pipelines being let go (warm-up work that must
// not hold the window).
void Post(std::function<void()> work);
// Runs work(bin) on a thread of its own and waits at most timeoutMs for it.
// False when the time ran out: bin is then that thread's, and the caller drops
// its reference without touching the pipeline's state.
bool RunBounded(GstElement* bin, std::function<void(GstElement*)> work, int timeoutMs);
// Waits at most ms until every pipeline let go is freed and every job has
// come back; false when the time ran out.
bool Drain(int ms);
// Pipelines not yet freed and jobs not yet back.
int Live();
// How long the oldest of them has been under way (0 when none): seconds mean
// a sound server that hangs, or a pipeline stuck in its teardown.
qint64 LongestJobMs();
// Opens the idle PulseAudio output when it is not open yet (waits at most
// timeoutMs); without a sound server there is none, and it is tried again at
// the next call.
void KeepSoundOutput(int timeoutMs);
// True when a PulseAudio server is there but does not finish the handshake
// within timeoutMs. No server at all is not "stuck": the output then goes
// elsewhere. A good answer holds for a while.
bool SoundServerStuck(int timeoutMs);

} // namespace pipelines
