#pragma once
// The master volume: the default output of the sound server, seen as mixer
// device 0, destination 0.

#include <QObject>
#include <memory>

struct TMixerVolume {
    int Left = -1;
    int Right = -1;
    int Mute = -1;
    bool VolDisabled = false;
    bool MuteDisabled = false;
    bool MuteIsSelector = false;
    bool Stereo = false;
};

class TAudioMixer : public QObject {
    Q_OBJECT
public:
    explicit TAudioMixer(QObject* parent = nullptr);
    ~TAudioMixer() override;
    // Connects to the sound server; false (and no mixer) when none answers.
    bool Open();
    bool IsOpen() const;
    // connection -1 is the destination line itself. False when there is no such line.
    bool GetVolume(int destination, int connection, TMixerVolume& out);
    // left -1 leaves the volume, right -1 takes left, mute -1 leaves the mute.
    bool SetVolume(int destination, int connection, int left, int right, int mute);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
