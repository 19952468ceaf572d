#pragma once

#include "panelcommands.h"
#include "panelport.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// How a request to a line ended. Only Ran went over the wire; the others
// were answered without an exchange.
struct JobResult {
    enum class End {
        Ran,      // the exchange took place: `outcome` says how it went
        Replaced, // a newer text for the same panel took its place
        Stopping, // the service is stopping; it never ran
        Expired,  // its deadline passed while it waited for the line
        QueueFull // the line had as many requests waiting as it takes
    };
    End end = End::Ran;
    CommandOutcome outcome;

    // One that never reached the wire, its reason said as a failure's.
    static JobResult unrun(End end);
    bool ok() const { return end == End::Ran && outcome.succeeded; }
    // The outcome as the history and the API say it.
    QString text() const;
};

// One request to a line, from whoever asked (the page, a script, MQTT, the
// agenda, a relay client): who, what, for which panel, by when, and the one
// callback its own result goes to. Nothing pairs results with requests by
// the order they come back.
struct PanelJob {
    enum class Kind {
        Text,    // a text or a library message: a newer one for the panel replaces it
        Command, // keeps its place among commands and texts
        Relay    // a client's own frame, sent as it came; never replaced
    };
    using Done = std::function<void(const JobResult &)>;

    Kind kind = Kind::Text;
    QString who;   // "ana", "mqtt", "agenda promo", "repasse"
    QString panel; // the configured panel; empty for a relayed frame
    QString what;  // for the history: the text, the message's name, the command
    qint16 address = 0;
    bool wholeLine = false; // reaches every panel of the line (address 0 or a sync)
    LinkOptions options;
    PanelPort::Job work; // runs on the line's thread, on copies
    // What the panel shows once the exchange succeeded (nothing for a
    // command that leaves the text as it was).
    std::optional<QString> shown;
    // On the service clock's monotonic milliseconds; 0: waits as long as it takes.
    qint64 deadlineMs = 0;
    Done done;

    // Whether this job changes what `address` shows, or is heard by it.
    bool reaches(qint16 panelAddress) const
    {
        return wholeLine || address == 0 || address == panelAddress;
    }
};
using PanelJobPtr = std::shared_ptr<PanelJob>;
