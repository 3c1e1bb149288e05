#pragma once
// Tells when someone opens the pseudo-terminal's port: while no host holds the port the
// server sleeps on this instead of polling a hung-up terminal. Built on inotify; where
// that is missing, the server falls back to polling.

#include <string>

class PortOpenWatch {
public:
    PortOpenWatch() = default;
    ~PortOpenWatch();
    PortOpenWatch(const PortOpenWatch&) = delete;
    PortOpenWatch& operator=(const PortOpenWatch&) = delete;

    // False (errno set) when the path cannot be watched.
    bool Start(const std::string& path);
    // Readable after an open; -1 when not watching.
    int Fd() const { return Inotify; }
    // Forgets the opens seen so far.
    void Drain();

private:
    int Inotify = -1;
};
