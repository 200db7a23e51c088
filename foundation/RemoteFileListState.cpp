#include "foundation/RemoteFileListState.h"

bool RemoteFileListState::forEachListEntry(const EntryVisitor& visit) const {
    const auto files = fileListArray();
    const auto infos = infoListArray();
    if (!files || !infos) return false;
    static const sys::PlistDictionary none;
    for (size_t i = 0; i < files->size(); ++i) {
        const sys::PlistValue* info = infos && i < infos->size() ? &(*infos)[i] : nullptr;
        visit((*files)[i].asString(), info && info->isDictionary() ? info->asDictionary() : none);
    }
    return true;
}
