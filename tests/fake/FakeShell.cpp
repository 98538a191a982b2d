// SHFileOperationA on the fake disk: delete, copy and move of one folder tree
// or file, with free space, the user's Cancel and Wine's handling of folder
// links.
#include "FakeState.h"

using namespace fake;
using namespace fake::detail;

namespace {

// The shell's own error codes for requests it refuses before starting.
const int kDeSameFile = 0x71;
const int kDeRootDir = 0x74;
const int kDeDestSubtree = 0x76;
const int kDeInvalidFiles = 0x7C;
const int kMaxDepth = 64;

struct Run {
    bool started = false;  // the request passed its checks and work began
    int files = 0;         // files written or deleted so far
    int cancelAfter = -1;  // the user presses Cancel once this many are done

    bool MayTakeNextFile() const { return cancelAfter < 0 || files < cancelAfter; }
};

std::vector<std::string> ReadList(const char* list)
{
    std::vector<std::string> out;
    for (const char* p = list; p && *p; p += std::strlen(p) + 1)
        out.push_back(p);
    return out;
}

// The entry that pFrom names: one path, without wildcards.
DWORD Source(const std::vector<std::string>& from, Node*& out)
{
    if (from.size() != 1)
        throw std::logic_error("fake: the shell takes one source only");
    Path p;
    DWORD error = 0;
    if (!ParsePath(from[0].c_str(), p, error, true) || p.parts.empty())
        return p.parts.empty() && error == 0 ? kDeRootDir : kDeInvalidFiles;
    if (HasWildcards(p.parts.back()))
        throw std::logic_error("fake: the shell takes no wildcards");
    out = Resolve(p, false).node;
    return out ? 0 : ERROR_FILE_NOT_FOUND;
}

std::vector<Node*> ChildrenOf(const Node* folder)
{
    std::vector<Node*> out;
    for (auto& child : folder->children)
        out.push_back(child.get());
    return out;
}

DWORD DeleteTree(Node* node, Run& run, int depth);

DWORD DeleteContents(Node* folder, Run& run, int depth)
{
    for (Node* child : ChildrenOf(folder))
        if (DWORD error = DeleteTree(child, run, depth + 1))
            return error;
    return 0;
}

DWORD DeleteTree(Node* node, Run& run, int depth)
{
    if (depth > kMaxDepth)
        return ERROR_FILENAME_EXCED_RANGE;
    if (!node->folder) {
        if (!run.MayTakeNextFile())
            return ERROR_CANCELLED;
        if (DWORD error = DeleteFileNode(node, true))
            return error;
        ++run.files;
        return 0;
    }
    if (node->IsLink()) {
        // The shell lists the folder through the link and deletes what lies
        // behind it, then cannot remove the link itself and gives up.
        DWORD error = 0;
        if (Node* behind = FollowLink(node, error))
            if ((error = DeleteContents(behind, run, depth)))
                return error;
        return ERROR_DIR_NOT_EMPTY;
    }
    if (DWORD error = DeleteContents(node, run, depth))
        return error;
    return RemoveFolderNode(node);
}

DWORD CopyTree(const Node* source, Node* destFolder, const std::string& name, Run& run, int depth)
{
    if (depth > kMaxDepth)
        return ERROR_FILENAME_EXCED_RANGE;
    if (!source->folder) {
        if (!run.MayTakeNextFile())
            return ERROR_CANCELLED;
        DWORD error = CheckShare(source, GENERIC_READ, FILE_SHARE_READ);
        if (!error)
            error = PutFile(destFolder, name, *source);
        if (error && !(M().shellDropsFileErrors && depth > 0))
            return error;
        ++run.files;
        return 0;
    }
    DWORD error = 0;
    const Node* from = source->IsLink() ? FollowLink(source, error) : source;  // copies what lies behind a link
    if (!from)
        return error;
    Node* dest = FindChild(destFolder, name);
    if (dest && dest->IsLink() && !(dest = FollowLink(dest, error)))  // and writes through one
        return error;
    if (dest && !dest->folder)
        return ERROR_ALREADY_EXISTS;
    if (!dest && (error = CreateFolder(destFolder, name, &dest)))
        return error;
    for (Node* child : ChildrenOf(from))
        if ((error = CopyTree(child, dest, child->name, run, depth + 1)))
            return error;
    return 0;
}

// Within a volume the folder is renamed; across volumes it is copied, then deleted.
DWORD MoveEntry(Node* source, Node* destFolder, Run& run)
{
    if (source->drive != destFolder->drive) {
        if (DWORD error = CopyTree(source, destFolder, source->name, run, 0))
            return error;
        Run cleanup;
        return DeleteTree(source, cleanup, 0);
    }
    if (FindChild(destFolder, source->name))
        throw std::logic_error("fake: a move onto an existing entry is not modelled");
    return Rename(source, destFolder, source->name);
}

// The folder pTo names, which the source goes into under its own name.
DWORD Destination(const std::string& toText, Node*& folder)
{
    Path p;
    DWORD error = 0;
    if (!ParsePath(toText.c_str(), p, error))
        return kDeInvalidFiles;
    folder = Resolve(p, true).node;
    if (!folder || !folder->folder)
        throw std::logic_error("fake: the shell's destination must be an existing folder: " + toText);
    return 0;
}

DWORD Perform(const ShellOpRecord& rec, Run& run)
{
    if (rec.func != FO_DELETE && rec.func != FO_COPY && rec.func != FO_MOVE)
        throw std::logic_error("fake: the shell deletes, copies and moves only");
    if (rec.from.empty())
        return kDeInvalidFiles;
    Node* source = nullptr;
    if (DWORD error = Source(rec.from, source))
        return error;
    if (!source->parent)
        return kDeRootDir;

    if (rec.func == FO_DELETE) {
        run.started = true;
        return DeleteTree(source, run, 0);
    }

    if (rec.to.size() != 1)
        return kDeInvalidFiles;
    Node* folder = nullptr;
    if (DWORD error = Destination(rec.to[0], folder))
        return error;
    if (source->folder && IsInside(folder, source))
        return kDeDestSubtree;
    if (FindChild(folder, source->name) == source)
        return kDeSameFile;
    run.started = true;
    if (rec.func == FO_COPY)
        return CopyTree(source, folder, source->name, run, 0);
    return MoveEntry(source, folder, run);
}

}  // namespace

int SHFileOperationA(LPSHFILEOPSTRUCTA lpFileOp)
{
    Machine& m = M();
    if (!lpFileOp) {
        Enter("SHFileOperationA", "(null)");
        return ERROR_INVALID_PARAMETER;
    }
    ShellOpRecord rec{};
    rec.hwnd = lpFileOp->hwnd;
    rec.func = lpFileOp->wFunc;
    rec.flags = lpFileOp->fFlags;
    rec.from = ReadList(lpFileOp->pFrom);
    rec.toIsNull = lpFileOp->pTo == nullptr;
    rec.to = ReadList(lpFileOp->pTo);
    rec.nameMappings = lpFileOp->hNameMappings;
    if (lpFileOp->lpszProgressTitle)
        rec.progressTitle = lpFileOp->lpszProgressTitle;
    m.shellOps.push_back(rec);

    bool failed = Enter("SHFileOperationA", rec.from.empty() ? "" : rec.from[0]);
    int result = 0;
    BOOL aborted = FALSE;
    bool errorSwitch = m.shellError != 0 && (m.shellErrorFunc == 0 || m.shellErrorFunc == rec.func);
    if (failed) {
        result = (int)m.lastError;
    } else if (errorSwitch && !m.shellErrorPerform) {
        result = m.shellError;
    } else {
        Run run;
        if (m.shellCancelAfter >= 0 && (m.shellCancelFunc == 0 || m.shellCancelFunc == rec.func))
            run.cancelAfter = m.shellCancelAfter;
        result = (int)Perform(rec, run);
        // A request refused before any work began (a missing source, say) is
        // not an abort; a stop once work has begun (an error, a full disk,
        // Cancel) is, as Windows reports it when it may not show an error.
        aborted = result != 0 && run.started;
        if (errorSwitch) {
            result = m.shellError;
            aborted = FALSE;
        }
    }
    lpFileOp->fAnyOperationsAborted = aborted;
    m.shellOps.back().result = result;
    m.shellOps.back().aborted = aborted;
    return result;
}
