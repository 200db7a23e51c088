#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

typedef struct _GMainLoop GMainLoop;
typedef struct _GDBusConnection GDBusConnection;
typedef struct _GDBusInterfaceVTable GDBusInterfaceVTable;

namespace test {

// The thread a stand-in for a desktop service runs on: a connection of its
// own to a test's session bus, answered from a main context of its own.
// `setUp` runs on that thread with the connection (null when the bus could
// not be reached) before the constructor returns; the thread then answers
// until the object goes.
class BusServiceThread {
public:
    BusServiceThread(const std::string& busAddress, std::function<void(GDBusConnection*)> setUp);
    ~BusServiceThread();
    BusServiceThread(const BusServiceThread&) = delete;
    BusServiceThread& operator=(const BusServiceThread&) = delete;

    // Puts the first interface of `xml` at `path`, answered by `vtable` with
    // `self`, then asks for the well-known `name`: true when the bus gave it.
    static bool serve(GDBusConnection* bus, const char* xml, const char* path, const char* name,
                      const GDBusInterfaceVTable* vtable, void* self);
    // Asks the bus for the well-known `name`, not queueing behind another
    // owner: true when it was given.
    static bool requestName(GDBusConnection* bus, const char* name);

private:
    std::thread thread_;
    GMainLoop* loop_ = nullptr;
    std::mutex mutex_;
    std::condition_variable startedCv_;
    bool started_ = false;
};

}  // namespace test
