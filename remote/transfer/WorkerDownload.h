#pragma once

#include "platform/core/Thread.h"
#include "remote/transfer/HttpDownload.h"
#include "remote/transfer/HttpDownloadDelegate.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class Settings;

// What the FTP and SMB downloads share: one file at a time per object, on a
// worker thread of its own; the delegate hears HttpDownload's calls on the
// main thread, and nothing after cancelDownload(). A subclass transfers the
// file and says how to cancel and let go of the clients the job uses; its
// destructor calls cancelDownload(), while its part still exists.
class WorkerDownload {
public:
    virtual ~WorkerDownload();
    WorkerDownload(const WorkerDownload&) = delete;
    WorkerDownload& operator=(const WorkerDownload&) = delete;

    void setDelegate(std::shared_ptr<HttpDownloadDelegate> d) { delegate_ = std::move(d); }
    void setSettings(Settings* s) { settings_ = s; }
    // Who asks for a user and password when the server refuses the ones the
    // download went with: each refusal asks again (a refused remembered
    // entry is forgotten), and the answer starts the download again. Without
    // one a refusal ends with the subclass's refused result.
    void setCredentialAsker(HttpDownload::CredentialAsker asker) { asker_ = std::move(asker); }
    // The credentials the next downloadFile goes with answered a question
    // asked before sending (HttpDownload::askBeforeSending): `fromKeyChain`
    // as the answer said, and `accepted` is called once the server takes them.
    void setAnswered(bool fromKeyChain, std::function<void()> accepted) {
        usedStored_ = fromKeyChain;
        accepted_ = std::move(accepted);
    }

    // url into savePath/saveName with these credentials. Returns at once; a
    // second start while one runs fails with the subclass's busy result. The
    // worker takes on the calling thread's sys::Clock::NetworkHoldLimit.
    void downloadFile(const std::string& url, const std::string& savePath, const std::string& saveName,
                      const std::string& username, const std::string& password);
    // Stops the download and joins the worker; no callback after it returns.
    void cancelDownload();

    bool isRunning() const { return worker_.running(); }
    // Where the file went (after result 0; read on the main thread after the callback).
    const std::string& savedPath() const { return savedPath_; }

protected:
    struct Job {
        std::string url, savePath, saveName, user, password;
    };
    // `threadName` names the worker; `busyResult` answers a start while one runs.
    WorkerDownload(const char* threadName, int busyResult);

    // The result code for the delegate, or -1 when cancelled (then nothing is
    // said), or kAskCredentials when the server refused the job's credentials
    // and canAsk().
    virtual int transfer(const Job& job) = 0;
    static constexpr int kAskCredentials = -2;
    bool canAsk() const { return bool(asker_); }
    // What a cancelled question ends the download with.
    virtual int refusedResult() const = 0;
    // The worker says that the server took the job's credentials.
    void loggedOn() { loggedOn_ = true; }
    // Both with mutex_ held: cancel the job's clients, and forget them.
    virtual void cancelClients() = 0;
    virtual void releaseClients() = 0;

    void post(std::function<void(HttpDownloadDelegate&)> call);

    Settings* settings_ = nullptr;
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    // Guards the subclass's clients, which cancel reaches from other threads.
    std::mutex mutex_;
    std::string savedPath_;

private:
    void run(const Job& job);
    // On the main thread: the question, and the download again with its answer.
    void askCredentials(const Job& job);

    HttpDownload::CredentialAsker asker_;
    // Main thread: the credentials in use came from the key chain; who hears
    // that the server took them.
    bool usedStored_ = false;
    std::function<void()> accepted_;
    std::atomic<bool> loggedOn_{false};

    const char* threadName_;
    int busyResult_;
    std::shared_ptr<HttpDownloadDelegate> delegate_;
    sys::Thread worker_;
};
