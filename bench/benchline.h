#pragma once

// A serial line to a device (the emulator's pseudo-terminal) with the link
// over it, as the benchmarks of the link use it.
#include "panellink.h"
#include "qtserialline.h"

#include <cstdio>
#include <memory>

struct BenchLine {
    QtSerialLine line;
    LineTimebase time;
    std::unique_ptr<PanelLink> link;

    // Opens the device; prints why not.
    bool open(const QString &device)
    {
        QString error;
        if (!line.open(device, &error)) {
            std::printf("%s\n", qPrintable(error));
            return false;
        }
        time.setLine(&line);
        link = std::make_unique<PanelLink>(line, time);
        return true;
    }
};
