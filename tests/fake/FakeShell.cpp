// SHFileOperationA on the fake disk: delete, copy, move and rename of files
// and folder trees, with free space, the user's Cancel and Wine's handling of
// folder links.
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

// The entries that pFrom names: each path, or what its last-name wildcard matches.
DWORD Sources(const std::vector<std::string>& from, std::vector<Node*>& out)
{
    for (const std::string& text : from) {
        Path p;
        DWORD error = 0;
        if (!ParsePath(text.c_str(), p, error, true) || p.parts.empty())
            return p.parts.empty() && error == 0 ? kDeRootDir : kDeInvalidFiles;
        if (HasWildcards(p.parts.back())) {
            std::string pattern = p.parts.back();
            p.parts.pop_back();
            Lookup folder = Resolve(p, true);
            if (!folder.node || !folder.node->folder)
                return ERROR_FILE_NOT_FOUND;
            for (auto& child : folder.node->children)
                if (MatchPattern(pattern, child->name))
                    out.push_back(child.get());
            continue;
        }
        Lookup found = Resolve(p, false);
        if (!found.node)
            return ERROR_FILE_NOT_FOUND;
        out.push_back(found.node);
    }
    return 0;
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

DWORD MoveEntry(Node* source, Node* destFolder, const std::string& name, Run& run, int depth)
{
    if (depth > kMaxDepth)
        return ERROR_FILENAME_EXCED_RANGE;
    if (source->drive != destFolder->drive) {
        if (DWORD error = CopyTree(source, destFolder, name, run, depth))
            return error;
        Run cleanup;
        return DeleteTree(source, cleanup, depth);
    }
    Node* existing = FindChild(destFolder, name);
    if (existing == source)
        return kDeSameFile;
    if (!source->folder) {
        if (existing && existing->folder)
            return ERROR_ALREADY_EXISTS;
        if (!run.MayTakeNextFile())
            return ERROR_CANCELLED;
        if (existing)
            if (DWORD error = DeleteFileNode(existing, true))
                return error;
        if (DWORD error = Rename(source, destFolder, name))
            return error;
        ++run.files;
        return 0;
    }
    if (!existing)
        return Rename(source, destFolder, name);
    if (!existing->folder || source->IsLink())
        return ERROR_ALREADY_EXISTS;
    // A folder of that name is there already: the two are merged.
    DWORD error = 0;
    Node* into = existing->IsLink() ? FollowLink(existing, error) : existing;
    if (!into)
        return error;
    for (Node* child : ChildrenOf(source))
        if ((error = MoveEntry(child, into, child->name, run, depth + 1)))
            return error;
    return RemoveFolderNode(source);
}

// Where pTo puts the sources: into an existing folder under their own names,
// else (one source) under pTo's own name, after creating the folders above it.
DWORD Destination(const std::string& toText, const std::vector<Node*>& sources, Node*& folder, std::string& name)
{
    Path p;
    DWORD error = 0;
    if (!ParsePath(toText.c_str(), p, error))
        return kDeInvalidFiles;
    Lookup found = Resolve(p, true);
    name.clear();
    if (found.node && found.node->folder) {
        folder = found.node;
        return 0;
    }
    bool single = sources.size() == 1;
    if (found.node) {
        if (!single || sources[0]->folder)
            return ERROR_ALREADY_EXISTS;
        folder = found.node->parent;
        name = found.node->name;
        return 0;
    }
    Drive* drive = FindDrive(p.volume);
    if (!drive)
        return ERROR_PATH_NOT_FOUND;
    folder = drive->top.get();
    size_t levels = single ? p.parts.size() - 1 : p.parts.size();
    for (size_t i = 0; i < levels; ++i) {
        Node* child = FindChild(folder, p.parts[i]);
        if (child && child->IsLink() && !(child = FollowLink(child, error)))
            return error;
        if (child && !child->folder)
            return ERROR_PATH_NOT_FOUND;
        if (!child && (error = CreateFolder(folder, p.parts[i], &child)))
            return error;
        folder = child;
    }
    if (single)
        name = p.parts.back();
    return 0;
}

DWORD Perform(const ShellOpRecord& rec, Run& run)
{
    if (rec.func < FO_MOVE || rec.func > FO_RENAME)
        return ERROR_INVALID_PARAMETER;
    if (rec.from.empty())
        return kDeInvalidFiles;
    std::vector<Node*> sources;
    if (DWORD error = Sources(rec.from, sources))
        return error;
    for (Node* s : sources)
        if (!s->parent)
            return kDeRootDir;

    if (rec.func == FO_DELETE) {
        run.started = true;
        for (Node* s : sources)
            if (DWORD error = DeleteTree(s, run, 0))
                return error;
        return 0;
    }

    if (rec.to.size() != 1)
        return kDeInvalidFiles;
    if (rec.func == FO_RENAME) {
        Path p;
        DWORD error = 0;
        if (sources.size() != 1 || !ParsePath(rec.to[0].c_str(), p, error) || p.parts.empty())
            return kDeInvalidFiles;
        Lookup target = Resolve(p, false);
        if (target.node && target.node != sources[0])
            return ERROR_ALREADY_EXISTS;
        Node* folder = target.node ? target.node->parent : target.parent;
        if (!folder)
            return ERROR_PATH_NOT_FOUND;
        if (folder->drive != sources[0]->drive)
            return ERROR_NOT_SAME_DEVICE;
        run.started = true;
        return Rename(sources[0], folder, p.parts.back());
    }

    Node* folder = nullptr;
    std::string name;
    if (DWORD error = Destination(rec.to[0], sources, folder, name))
        return error;
    for (Node* s : sources) {
        if (s->folder && IsInside(folder, s))
            return kDeDestSubtree;
        if (FindChild(folder, name.empty() ? s->name : name) == s)
            return kDeSameFile;
    }
    run.started = true;
    for (Node* s : sources) {
        std::string as = name.empty() ? s->name : name;
        Node* existing = FindChild(folder, as);
        DWORD error;
        if (rec.func == FO_COPY) {
            error = CopyTree(s, folder, as, run, 0);
        } else {
            // Wine leaves a folder alone when the destination already holds one of that name.
            if (!M().shellMoveMerges && s->folder && existing && existing->folder && s->drive == folder->drive)
                continue;
            error = MoveEntry(s, folder, as, run, 0);
        }
        if (error)
            return error;
    }
    return 0;
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
