#pragma once

#include "tests/support/TestHome.h"
#include "tests/support/net/NginxServer.h"

#include <string>

namespace test {

// Puts one nginx, serving a fresh folder, under a whole test suite: starting
// it for every test would cost more than the tests. `Base` is the fixture the
// suite would otherwise derive from. A failed start is kept for
// REQUIRE_NGINX() to report, so that only the tests needing nginx fail.
template <class Base>
class NginxSuite : public Base {
protected:
    static void SetUpTestSuite() {
        root_ = new TempDir("www");
        nginx_ = new NginxServer;
        if (!nginx_->start(root_->path())) nginxError_ = nginx_->lastError();
    }
    static void TearDownTestSuite() {
        delete nginx_;
        delete root_;
        nginx_ = nullptr;
        root_ = nullptr;
    }

    NginxServer& nginx() { return *nginx_; }
    bool haveNginx() { return nginx_ && nginx_->running(); }

    static inline TempDir* root_ = nullptr;
    static inline NginxServer* nginx_ = nullptr;
    static inline std::string nginxError_;
};

}  // namespace test

// Skips where nginx is not installed; fails where it is but did not start.
#define REQUIRE_NGINX()                                                              \
    do {                                                                             \
        if (test::NginxServer::program().empty()) GTEST_SKIP() << "no nginx";        \
        ASSERT_TRUE(this->haveNginx()) << this->nginxError_;                         \
    } while (0)
