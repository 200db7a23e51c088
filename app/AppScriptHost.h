#pragma once

#include "platform/shell/ScriptHost.h"

#include <memory>

class NestlarkAppDelegate;

// The application's side of a script: alerts and sheets on screen, going
// back, the life cycle and URLs handed over.
class AppScriptHost : public shell::ScriptHost {
public:
    explicit AppScriptHost(std::shared_ptr<NestlarkAppDelegate> delegate) : delegate_(std::move(delegate)) {}

    bool pressAlertButton(int index, std::string* error) override;
    bool pressSheetButton(int index, std::string* error) override;
    bool goBack(std::string* error) override;
    void enterBackground() override;
    void enterForeground() override;
    bool openURL(const std::string& url, std::string* error) override;

private:
    bool pressButton(bool sheet, int index, std::string* error);
    std::shared_ptr<NestlarkAppDelegate> delegate_;
};
