#pragma once

#include <string>

class DocumentBrowserViewController;

// Told which file was picked on a document browser screen.
class DocumentBrowserViewControllerDelegate {
public:
    virtual ~DocumentBrowserViewControllerDelegate() = default;
    virtual void documentBrowserDidPickDocument(DocumentBrowserViewController& browser, const std::string& path) = 0;
};
