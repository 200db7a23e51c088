#pragma once

#include <memory>

// The download queue: runs queued transfers one at a time. The screens that
// show or fill the queue share one instance, handed to them by whoever made
// it; the queue's work arrives with the transfer code.
class BookTransfer : public std::enable_shared_from_this<BookTransfer> {
public:
    BookTransfer() = default;
    virtual ~BookTransfer() = default;
    BookTransfer(const BookTransfer&) = delete;
    BookTransfer& operator=(const BookTransfer&) = delete;
};
