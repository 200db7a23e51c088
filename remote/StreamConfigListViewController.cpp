#include "remote/StreamConfigListViewController.h"

#include "foundation/StreamCacheCleaner.h"

double StreamConfigListViewController::getExpireDateWIthStreamConfigExpireDays(int code) {
    return StreamCacheCleaner::getExpireDateWIthStreamConfigExpireDays(code);
}

void StreamConfigListViewController::removeStreamConfigWithDays(int code) {
    StreamCacheCleaner::removeStreamConfigWithDays(code);
}
