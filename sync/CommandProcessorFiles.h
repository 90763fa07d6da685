#pragma once
// Small file and error helpers shared by the two halves of the command processor.

#include "compat/FileApi.h"
#include "qcl/Error.h"
#include "qcl/Handle.h"
#include "qcl/Uint128.h"
#include "sync/Tree.h"

#include <cstdint>
#include <optional>
#include <string>

namespace dwl::commandprocessor
{
// What the tree records of a file on disk.
struct FileFacts
{
    std::uint64_t localId = 0;
    std::uint64_t size = 0;
    std::uint64_t lastModificationTime = 0;
    std::uint64_t changeTime = 0;
};

// Throw qcl::SystemError with the path in the message.
qcl::Handle openExisting(const std::wstring& path, DWORD access, DWORD shareMode);
FileFacts readFileFacts(HANDLE file, const std::wstring& path);
// The last change of the open file's content or metadata.
std::uint64_t changeTimeOf(HANDLE file, const std::wstring& path);
FileFacts readFileFacts(const std::wstring& path);

// The hidden file that a download of the document is written to, beside its target.
std::wstring downloadFileName(const qcl::uint128& assetId);
bool isDownloadFileName(const std::wstring& name);

// The Share directory (a child of the root) that holds the node; the node itself for a Share.
Tree::Directory& shareOf(Tree::Node& node);
// The directory of the tree that the server folder `folderId` of the Share stands for, or null.
Tree::Directory* folderOfAsset(Tree::Directory& root, const qcl::uint128& shareId, const qcl::uint128& folderId);

// The local id named by the error's message ("Duplicated local ID: 0000-0000-0000-0001").
std::optional<std::uint64_t> localIdOf(const Tree::DuplicatedLocalIdError& error);

// Inside a catch block: puts "context: " in front of the message of the exception being handled and throws it
// on. A url::Error keeps its class (the caller tells a lost server from a refusal by it); any other error of
// the program becomes a qcl::basic_runtime_error<wchar_t>; anything else passes unchanged.
[[noreturn]] void rethrowWithContext(const std::wstring& context);

// The text of the exception being handled, for notifications.
std::wstring reasonOf(const std::exception& error);
} // namespace dwl::commandprocessor
