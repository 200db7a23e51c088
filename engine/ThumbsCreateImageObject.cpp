#include "engine/ThumbsCreateImageObject.h"

ThumbsCreateImageObject::ThumbsCreateImageObject(std::shared_ptr<FilelistItem> item, gfx::ImageRef image,
                                                 std::optional<std::string> filenameInArchive)
    : item_(std::move(item)), image_(std::move(image)), filenameInArchive_(std::move(filenameInArchive)) {}
