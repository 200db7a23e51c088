#include "tests/support/net/SilentServer.h"

namespace test {

SilentServer::SilentServer() = default;

SilentServer::~SilentServer() = default;

int SilentServer::accept(int seconds) { return listener_.accept(seconds * 1000); }

void SilentServer::close() { listener_.close(); }

}  // namespace test
