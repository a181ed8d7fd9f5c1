#include "playback/audiomixer.h"

struct TAudioMixer::Impl {};

TAudioMixer::TAudioMixer(QObject* parent) : QObject(parent) {}
TAudioMixer::~TAudioMixer() = default;
bool TAudioMixer::Open() { return false; }
bool TAudioMixer::IsOpen() const { return false; }
bool TAudioMixer::GetVolume(int, int, TMixerVolume&) { return false; }
bool TAudioMixer::SetVolume(int, int, int, int, int) { return false; }
