#include "Notification.h"

#include <QCoreApplication>
#include <mutex>

// Qt's own event queue is not built with ThreadSanitizer, so TSan cannot see that posting
// an event orders everything the poster wrote before everything the receiver reads.
// These two annotations tell it. Nor can it see the lock that orders two threads posting at
// once, say two links' drivers; in a TSan build a lock of our own around the post shows it.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LINK_TSAN 1
#endif
#endif
#if !defined(LINK_TSAN) && defined(__SANITIZE_THREAD__)
#define LINK_TSAN 1
#endif

#ifdef LINK_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

TSwNotification::TSwNotification(int message, std::int32_t param, std::int32_t value)
    : QEvent(Type()), Message(message), Param(param), Value(value) {}

TSwNotification::TSwNotification(const TLinkNotice& notice)
    : QEvent(Type()), Message(notice.Message), Param(notice.Param), Value(notice.Value),
      Payload(notice.Payload) {}

QEvent::Type TSwNotification::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostNotification(QObject* target, TSwNotification* notification) {
#ifdef LINK_TSAN
    __tsan_release(static_cast<QEvent*>(notification));
    static std::mutex posting;
    const std::lock_guard lock(posting);
#endif
    QCoreApplication::postEvent(target, notification);
}

void AcceptNotification([[maybe_unused]] const QEvent* event) {
#ifdef LINK_TSAN
    __tsan_acquire(const_cast<QEvent*>(event));
#endif
}
