#pragma once

#include <QLocalServer>
#include <QObject>
#include <QStringList>
#include <chrono>
#include <functional>

// One Orvanta per user: the first start listens on a local socket named after the application
// and the user; a second start hands its request to the first and ends. The requests are the
// main window's messages: 0x410 for "/schedule", 0x411 for "/epg" (a leading '-' counts as
// '/', case does not matter), 0x412 when no argument is known.
class CSingleInstance final : public QObject {
public:
    static constexpr uint32_t kScheduleRequest = 0x410;
    static constexpr uint32_t kEpgRequest = 0x411;
    static constexpr uint32_t kOtherRequest = 0x412;

    // The socket's name for this user.
    static QString ServerName();
    // The messages a second start sends for its arguments (after the program's name): each
    // known one in order, or 0x412 alone.
    static std::vector<uint32_t> RequestsOf(const QStringList& arguments);

    // Listens when no other instance does; false when one runs already.
    bool Listen(std::function<void(uint32_t message)> onRequest);

    // A second start: sends each request to the running instance, waits `repeatDelay` and
    // sends it again (a first instance that was still starting gets it then), request after
    // request. False when no instance answered.
    static bool Forward(const std::vector<uint32_t>& requests,
                        std::chrono::milliseconds repeatDelay);

private:
    QLocalServer server;
    std::function<void(uint32_t message)> onRequest;
};
