#pragma once

#include "app/NestlarkAppDelegate.h"
#include "foundation/ui/TransferScreenFactory.h"
#include "remote/RemoteTransferScreenFactory.h"
#include "remote/transfer/HttpDownload.h"
#include "tests/app/ProgramRun.h"
#include "tests/support/TestHome.h"
#include "tests/support/net/NginxServer.h"

#include <unistd.h>

#include <memory>
#include <string>

// A program run that downloads: the transfer screens installed, no half-done
// download left in the shared temporary folder by an earlier test, and an
// nginx (serving `www` once started) stopped after the run.
class DownloadProgramRun : public ProgramRun {
protected:
    void makeDownloadHome(const std::string& tag) {
        RemoteTransferScreenFactory::install();
        makeHome(tag);
        markNotFirstRun();
        ::unlink((HttpDownload::temporaryFolder() + "/" + HttpDownload::kTempFileName).c_str());
        ::unlink((HttpDownload::temporaryFolder() + "/" + HttpDownload::kSideFileName).c_str());
    }
    void TearDown() override {
        ProgramRun::TearDown();
        TransferScreenFactory::install(nullptr);
        nginx.stop();
    }
    NestlarkAppDelegate& app() { return *program->delegate(); }

    std::unique_ptr<test::TempDir> www;
    test::NginxServer nginx;
};
