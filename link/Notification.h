#pragma once

// What the worker posts to the window thread: one notification per event of Qt's
// queue, carrying its message number, one value, and for a status group a copy of the
// group's payload, which goes away with the event.

#include "LinkNotice.h"

#include <QEvent>
#include <QObject>
#include <array>
#include <cstdint>

class TSwNotification : public QEvent {
public:
    TSwNotification(int message, std::int32_t param, std::int32_t value = 0);
    explicit TSwNotification(const TLinkNotice& notice);

    static QEvent::Type Type();

    int Message;
    // Connected flag, stop code, link statistics kind.
    std::int32_t Param;
    // Link statistics value.
    std::int32_t Value;
    std::array<std::uint8_t, MAX_GROUP_PAYLOAD> Payload{};
};

// Hands a notification to target's thread. Any thread may call it.
void PostNotification(QObject* target, TSwNotification* notification);

// Marks the receipt of a posted event on the receiving thread; call it before reading
// anything of the event, its type included.
void AcceptNotification(const QEvent* event);
