// The fake machine's state, its path rules and the control functions.
#include "FakeState.h"

#include <algorithm>
#include <cctype>
#include <new>

namespace fake::detail {

namespace {

std::unique_ptr<Machine>& Instance()
{
    static std::unique_ptr<Machine> machine;
    return machine;
}

const DWORD kDeleteAccess = 0x00010000;

unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

// Splits text into characters: one byte, or a lead byte and its trail byte.
std::vector<std::string> Characters(const std::string& s)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < s.size();) {
        size_t n = (IsLead((unsigned char)s[i]) && i + 1 < s.size()) ? 2 : 1;
        out.push_back(s.substr(i, n));
        i += n;
    }
    return out;
}

bool SameCharacter(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    if (a.size() == 2)
        return a == b;
    return FoldAscii((unsigned char)a[0]) == FoldAscii((unsigned char)b[0]);
}

bool IsInvalidNameChar(unsigned char c)
{
    return c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|';
}

ULONGLONG RoundUp(ULONGLONG size, ULONGLONG cluster)
{
    if (cluster == 0)
        return size;
    ULONGLONG rest = size % cluster;
    return rest ? size + (cluster - rest) : size;
}

std::unique_ptr<Node> Detach(Node* node)
{
    auto& siblings = node->parent->children;
    for (auto it = siblings.begin(); it != siblings.end(); ++it) {
        if (it->get() == node) {
            std::unique_ptr<Node> owned = std::move(*it);
            siblings.erase(it);
            owned->parent = nullptr;
            return owned;
        }
    }
    throw std::logic_error("fake: entry not in its folder");
}

Node* AddChild(Node* folder, const std::string& name, bool isFolder)
{
    auto node = std::make_unique<Node>();
    node->name = name;
    node->folder = isFolder;
    node->parent = folder;
    node->drive = folder->drive;
    folder->children.push_back(std::move(node));
    return folder->children.back().get();
}

Lookup ResolveAt(const Path& path, bool followLast, int depth);

Node* FollowLinkAt(const Node* link, DWORD& error, int depth)
{
    if (depth > 31) {
        error = ERROR_CANT_RESOLVE_FILENAME;
        return nullptr;
    }
    Path target;
    if (!ParsePath(link->linkTarget.c_str(), target, error, false, false))
        return nullptr;
    Lookup found = ResolveAt(target, true, depth);
    if (!found.node || !found.node->folder) {
        error = ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    return found.node;
}

Lookup ResolveAt(const Path& path, bool followLast, int depth)
{
    Lookup r;
    Drive* drive = FindDrive(path.volume);
    if (!drive) {
        r.error = path.volume.size() > 2 ? ERROR_BAD_NETPATH : ERROR_PATH_NOT_FOUND;
        return r;
    }
    Node* folder = drive->top.get();
    if (path.parts.empty()) {
        r.node = folder;
        return r;
    }
    for (size_t i = 0; i < path.parts.size(); ++i) {
        bool last = i + 1 == path.parts.size();
        Node* child = FindChild(folder, path.parts[i]);
        if (!child) {
            r.error = last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
            if (last) {
                r.parent = folder;
                r.leaf = path.parts[i];
            }
            return r;
        }
        if (child->IsLink() && (!last || followLast)) {
            DWORD error = 0;
            child = FollowLinkAt(child, error, depth + 1);
            if (!child) {
                r.error = error;
                return r;
            }
        }
        if (last) {
            if (!child->folder && path.trailingSeparator) {
                r.error = ERROR_INVALID_NAME;
                return r;
            }
            r.node = child;
            r.parent = folder;
            r.leaf = path.parts[i];
            return r;
        }
        if (!child->folder) {
            r.error = ERROR_PATH_NOT_FOUND;
            return r;
        }
        folder = child;
    }
    return r;
}

}  // namespace

Machine::Machine()
{
    auto c = std::make_unique<Drive>();
    c->root = "C:";
    c->type = DRIVE_FIXED;
    c->freeBytes = 1ull << 30;
    c->totalBytes = 2ull << 30;
    c->top = std::make_unique<Node>();
    c->top->folder = true;
    c->top->drive = c.get();
    drives.push_back(std::move(c));
    currentDirectory.volume = "C:";
    startupInfo.cb = sizeof(STARTUPINFOA);
}

Machine::~Machine()
{
    for (void* block : argvBlocks)
        std::free(block);
}

Machine& M()
{
    auto& machine = Instance();
    if (!machine)
        machine = std::make_unique<Machine>();
    return *machine;
}

// Whether a call whose main argument is `arg` names `path` ("" names every
// call): the argument is the path, or one of the two in "from -> to".
static bool Names(const std::string& arg, const std::string& path)
{
    if (path.empty() || arg == path)
        return true;
    size_t arrow = arg.find(" -> ");
    return arrow != std::string::npos && (arg.compare(0, arrow, path) == 0 || arg.compare(arrow + 4, std::string::npos, path) == 0);
}

bool Enter(const char* function, const std::string& arg)
{
    Machine& m = M();
    m.calls.push_back({function, arg});
    for (const HoldUp& h : m.holdUps)
        if (h.function == function && m.clock < h.until && Names(arg, h.path)) {
            m.lastError = h.error;
            return true;
        }
    std::optional<Injection> fire;
    for (size_t i = 0; i < m.injections.size();) {
        Injection& inj = m.injections[i];
        if (inj.after || inj.function != function || !Names(arg, inj.path)) {
            ++i;
            continue;
        }
        if (inj.countdown == 0) {
            if (!fire)
                fire = inj;
            ++i;
        } else if (--inj.countdown == 0) {
            if (!fire)
                fire = inj;
            m.injections.erase(m.injections.begin() + i);
        } else {
            ++i;
        }
    }
    if (!fire)
        return false;
    if (fire->throws) {
        if (fire->what == Throw::BadAlloc)
            throw std::bad_alloc();
        throw FakeException(std::string("injected failure in ") + function);
    }
    m.lastError = fire->error;
    return true;
}

void Leave(const char* function, const std::string& arg)
{
    auto& injections = M().injections;
    for (size_t i = 0; i < injections.size(); i++)
        if (injections[i].after && injections[i].function == function && Names(arg, injections[i].path)) {
            injections.erase(injections.begin() + i);
            throw FakeException(std::string("injected death after ") + function);
        }
}

std::string Str(const char* text) { return text ? text : "(null)"; }

std::string Narrow(const wchar_t* text)
{
    std::string out;
    if (!text)
        return "(null)";
    for (; *text; ++text) {
        uint32_t c = (uint32_t)*text;
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | (c >> 6));
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | (c >> 12));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | (c >> 18));
            out += (char)(0x80 | ((c >> 12) & 0x3F));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

BOOL Fail(DWORD error)
{
    M().lastError = error;
    return FALSE;
}

bool IsLead(unsigned char c, UINT codePage)
{
    return codePage == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

bool IsLead(unsigned char c) { return IsLead(c, M().codePage); }

bool NamesEqual(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size();) {
        if (IsLead((unsigned char)a[i]) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            i += 2;
        } else {
            if (FoldAscii((unsigned char)a[i]) != FoldAscii((unsigned char)b[i]))
                return false;
            ++i;
        }
    }
    return true;
}

bool HasWildcards(const std::string& name)
{
    for (const std::string& c : Characters(name))
        if (c == "*" || c == "?")
            return true;
    return false;
}

// '*' matches any run of characters, '?' exactly one; "*.*" matches every name.
bool MatchPattern(const std::string& patternText, const std::string& nameText)
{
    std::vector<std::string> pattern = Characters(patternText == "*.*" ? "*" : patternText);
    std::vector<std::string> name = Characters(nameText);
    size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == "*") {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == "?" || SameCharacter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == "*")
        ++p;
    return p == pattern.size();
}

bool ParsePath(const char* text, Path& out, DWORD& error, bool wildcardsInLast, bool limitLength)
{
    if (!text) {
        error = ERROR_INVALID_PARAMETER;
        return false;
    }
    std::string s = text;
    if (s.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    if (limitLength && s.size() >= MAX_PATH) {
        error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    for (char& c : s)  // '/' is never the second byte of a double-byte character
        if (c == '/')
            c = '\\';

    const Machine& m = M();
    Path p;
    size_t pos = 0;
    if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
        size_t hostEnd = s.find('\\', 2);
        size_t shareEnd = hostEnd == std::string::npos ? hostEnd : s.find('\\', hostEnd + 1);
        if (hostEnd == std::string::npos || hostEnd == 2 || hostEnd + 1 == s.size() || shareEnd == hostEnd + 1) {
            error = ERROR_INVALID_NAME;
            return false;
        }
        p.volume = s.substr(0, shareEnd);
        pos = shareEnd == std::string::npos ? s.size() : shareEnd;
    } else if (s.size() >= 2 && s[1] == ':' && std::isalpha((unsigned char)s[0])) {
        p.volume = std::string(1, (char)std::toupper((unsigned char)s[0])) + ":";
        pos = 2;
        if ((pos >= s.size() || s[pos] != '\\') && NamesEqual(m.currentDirectory.volume, p.volume))
            p.parts = m.currentDirectory.parts;
    } else {
        p.volume = m.currentDirectory.volume;
        if (s[0] != '\\')
            p.parts = m.currentDirectory.parts;
    }

    struct Component {
        std::string text;
        bool invalid = false;
        bool wild = false;
    };
    std::vector<Component> components(1);
    bool endsWithSeparator = false;
    for (size_t i = pos; i < s.size();) {
        unsigned char c = (unsigned char)s[i];
        if (IsLead(c) && i + 1 < s.size()) {
            components.back().text.append(s, i, 2);
            i += 2;
            endsWithSeparator = false;
            continue;
        }
        if (c == '\\') {
            if (!components.back().text.empty())
                components.emplace_back();
            endsWithSeparator = true;
        } else {
            components.back().text += (char)c;
            components.back().invalid |= IsInvalidNameChar(c);
            components.back().wild |= c == '*' || c == '?';
            endsWithSeparator = false;
        }
        ++i;
    }
    if (components.back().text.empty())
        components.pop_back();
    for (size_t i = 0; i < components.size(); ++i) {
        const Component& c = components[i];
        bool last = i + 1 == components.size();
        if (c.invalid || (c.wild && !(last && wildcardsInLast))) {
            error = ERROR_INVALID_NAME;
            return false;
        }
        if (c.text == ".")
            continue;
        if (c.text == "..") {
            if (!p.parts.empty())
                p.parts.pop_back();
            continue;
        }
        p.parts.push_back(c.text);
    }
    p.trailingSeparator = endsWithSeparator && !p.parts.empty();
    out = p;
    return true;
}

Drive* FindDrive(const std::string& volume)
{
    for (auto& d : M().drives)
        if (NamesEqual(d->root, volume))
            return d.get();
    return nullptr;
}

Lookup Resolve(const Path& path, bool followLast) { return ResolveAt(path, followLast, 0); }

Node* FollowLink(const Node* link, DWORD& error) { return FollowLinkAt(link, error, 1); }

Node* FindChild(const Node* folder, const std::string& name)
{
    for (auto& child : folder->children)
        if (NamesEqual(child->name, name))
            return child.get();
    return nullptr;
}

DWORD Attributes(const Node* node)
{
    if (node->folder)
        return FILE_ATTRIBUTE_DIRECTORY | (node->IsLink() ? FILE_ATTRIBUTE_REPARSE_POINT : 0);
    return node->attributes ? node->attributes : FILE_ATTRIBUTE_NORMAL;
}

bool IsInside(const Node* node, const Node* folder)
{
    for (; node; node = node->parent)
        if (node == folder)
            return true;
    return false;
}

DWORD CheckWritable(const Node* folder)
{
    return folder->notWritable ? ERROR_ACCESS_DENIED : 0;
}

DWORD CheckShare(const Node* file, DWORD access, DWORD share)
{
    for (const auto& [id, open] : M().opens) {
        if (open.node != file)
            continue;
        if (((access & GENERIC_READ) && !(open.share & FILE_SHARE_READ)) ||
            ((access & GENERIC_WRITE) && !(open.share & FILE_SHARE_WRITE)) ||
            ((access & kDeleteAccess) && !(open.share & FILE_SHARE_DELETE)) ||
            ((open.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) ||
            ((open.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) ||
            ((open.access & kDeleteAccess) && !(share & FILE_SHARE_DELETE)))
            return ERROR_SHARING_VIOLATION;
    }
    return 0;
}

bool HasOpensInside(const Node* node)
{
    for (const auto& [id, open] : M().opens)
        if (IsInside(open.node, node))
            return true;
    return false;
}

DWORD PutFile(Node* folder, const std::string& name, const Node& source, Node** out)
{
    if (DWORD error = CheckWritable(folder))
        return error;
    Drive* drive = folder->drive;
    ULONGLONG cluster = drive->Cluster();
    Node* existing = FindChild(folder, name);
    ULONGLONG oldUse = 0;
    if (existing) {
        if (existing->folder || (existing->attributes & FILE_ATTRIBUTE_READONLY))
            return ERROR_ACCESS_DENIED;
        if (DWORD error = CheckShare(existing, GENERIC_WRITE, 0))
            return error;
        oldUse = RoundUp(existing->Size(), cluster);
    }
    ULONGLONG newUse = RoundUp(source.Size(), cluster);
    if (newUse > drive->freeBytes + oldUse) {
        // The destination was already truncated when the write ran out of room,
        // and the half-written file is removed again.
        if (existing && !HasOpensInside(existing)) {
            drive->freeBytes += oldUse;
            Detach(existing);
        }
        return ERROR_DISK_FULL;
    }
    drive->freeBytes = drive->freeBytes + oldUse - newUse;
    Node* file = existing ? existing : AddChild(folder, name, false);
    file->data = source.data;
    file->big = source.big;
    file->bigSize = source.bigSize;
    file->attributes = source.attributes ? source.attributes : FILE_ATTRIBUTE_ARCHIVE;
    if (out)
        *out = file;
    return 0;
}

void Truncate(Node* file)
{
    file->drive->freeBytes += RoundUp(file->Size(), file->drive->Cluster());
    file->data.clear();
    file->big = false;
    file->bigSize = 0;
}

DWORD CreateFolder(Node* parent, const std::string& name, Node** out)
{
    if (FindChild(parent, name))
        return ERROR_ALREADY_EXISTS;
    if (DWORD error = CheckWritable(parent))
        return error;
    Node* folder = AddChild(parent, name, true);
    if (out)
        *out = folder;
    return 0;
}

DWORD DeleteFileNode(Node* file, bool evenReadOnly)
{
    if (DWORD error = CheckWritable(file->parent))
        return error;
    if (!evenReadOnly && (file->attributes & FILE_ATTRIBUTE_READONLY))
        return ERROR_ACCESS_DENIED;
    if (DWORD error = CheckShare(file, kDeleteAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return error;
    // Windows would keep a file that is open with delete sharing until its last
    // handle closes; the fake refuses, so no handle ever outlives its file.
    if (HasOpensInside(file))
        return ERROR_ACCESS_DENIED;
    file->drive->freeBytes += RoundUp(file->Size(), file->drive->Cluster());
    Detach(file);
    return 0;
}

DWORD RemoveFolderNode(Node* folder)
{
    Machine& m = M();
    if (!folder->parent)
        return ERROR_ACCESS_DENIED;
    if (DWORD error = CheckWritable(folder->parent))
        return error;
    if (folder->IsLink()) {
        if (!m.linksRemovable)
            return ERROR_DIR_NOT_EMPTY;
        Detach(folder);
        return 0;
    }
    if (!folder->children.empty())
        return ERROR_DIR_NOT_EMPTY;
    if (Resolve(m.currentDirectory, true).node == folder)
        return ERROR_SHARING_VIOLATION;  // the process holds its current folder open
    Detach(folder);
    return 0;
}

DWORD Rename(Node* node, Node* newParent, const std::string& newName)
{
    if (!node->parent)
        return ERROR_ACCESS_DENIED;
    if (DWORD error = CheckWritable(node->parent))
        return error;
    if (DWORD error = CheckWritable(newParent))
        return error;
    if (node->folder) {
        if (IsInside(newParent, node))
            return ERROR_SHARING_VIOLATION;
        if (HasOpensInside(node))
            return ERROR_ACCESS_DENIED;
    } else if (DWORD error = CheckShare(node, kDeleteAccess, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        return error;
    }
    Node* existing = FindChild(newParent, newName);
    if (existing && existing != node)
        return ERROR_ALREADY_EXISTS;
    if (newParent != node->parent) {
        std::unique_ptr<Node> owned = Detach(node);
        owned->parent = newParent;
        newParent->children.push_back(std::move(owned));
    }
    node->name = newName;
    return 0;
}

uintptr_t NewHandle()
{
    Machine& m = M();
    m.nextHandle += 4;
    return m.nextHandle;
}

}  // namespace fake::detail

// ---------------------------------------------------------------- control

namespace fake {

using namespace detail;

namespace {

Path ParseOrThrow(const std::string& text)
{
    Path p;
    DWORD error = 0;
    if (!ParsePath(text.c_str(), p, error, false, false))
        throw std::logic_error("fake: bad path " + text);
    return p;
}

Drive& DriveOrThrow(std::string root)
{
    if (root.size() == 1 || (root.size() == 3 && root[1] == ':' && root[2] == '\\'))
        root = root.substr(0, 1) + ":";
    if (root.size() > 2 && root.back() == '\\')
        root.pop_back();
    Drive* d = FindDrive(root);
    if (!d)
        throw std::logic_error("fake: no drive " + root);
    return *d;
}

Node* NodeOrThrow(const std::string& path, bool followLast)
{
    Lookup found = Resolve(ParseOrThrow(path), followLast);
    if (!found.node)
        throw std::logic_error("fake: no entry " + path);
    return found.node;
}

// Creates the missing folders among the first `count` names of the path.
Node* LayOutFolders(const Path& p, size_t count)
{
    Drive* drive = FindDrive(p.volume);
    if (!drive)
        throw std::logic_error("fake: no drive " + p.volume);
    Node* folder = drive->top.get();
    for (size_t i = 0; i < count; ++i) {
        Node* child = FindChild(folder, p.parts[i]);
        if (!child)
            child = AddChild(folder, p.parts[i], true);
        if (child->IsLink()) {
            DWORD error = 0;
            child = FollowLink(child, error);
            if (!child)
                throw std::logic_error("fake: dangling link on the way to " + p.parts[i]);
        }
        if (!child->folder)
            throw std::logic_error("fake: a file stands in the way: " + p.parts[i]);
        folder = child;
    }
    return folder;
}

Node* FileToWrite(const std::string& path)
{
    Path p = ParseOrThrow(path);
    if (p.parts.empty())
        throw std::logic_error("fake: a file cannot be a root: " + path);
    Node* folder = LayOutFolders(p, p.parts.size() - 1);
    Node* file = FindChild(folder, p.parts.back());
    if (file && file->folder)
        throw std::logic_error("fake: a folder stands at " + path);
    return file ? file : AddChild(folder, p.parts.back(), false);
}

void Walk(const Node* folder, const std::string& prefix, std::vector<std::pair<std::string, const Node*>>& out)
{
    for (auto& child : folder->children) {
        std::string rel = prefix + child->name;
        if (child->folder) {
            out.push_back({rel + "\\", child.get()});
            if (!child->IsLink())
                Walk(child.get(), rel + "\\", out);
        } else {
            out.push_back({rel, child.get()});
        }
    }
}

std::vector<std::pair<std::string, const Node*>> Tree(const std::string& folder)
{
    Node* top = NodeOrThrow(folder, true);
    if (!top->folder)
        throw std::logic_error("fake: not a folder: " + folder);
    std::vector<std::pair<std::string, const Node*>> out;
    Walk(top, "", out);
    return out;
}

}  // namespace

void Reset() { Instance() = std::make_unique<Machine>(); }

void AddDrive(const std::string& rootText, UINT type, ULONGLONG freeBytes)
{
    std::string root = rootText;
    if (root.size() == 1 || (root.size() == 3 && root[2] == '\\'))
        root = root.substr(0, 1) + ":";
    if (root.size() > 2 && root.back() == '\\')
        root.pop_back();
    if (root.size() == 2)
        root[0] = (char)std::toupper((unsigned char)root[0]);
    if (FindDrive(root))
        throw std::logic_error("fake: drive exists: " + root);
    auto d = std::make_unique<Drive>();
    d->root = root;
    d->type = type;
    d->freeBytes = freeBytes;
    d->totalBytes = freeBytes + (1ull << 30);
    d->top = std::make_unique<Node>();
    d->top->folder = true;
    d->top->drive = d.get();
    M().drives.push_back(std::move(d));
}

void SetDriveType(const std::string& root, UINT type) { DriveOrThrow(root).type = type; }
void SetDriveFreeBytes(const std::string& root, ULONGLONG freeBytes) { DriveOrThrow(root).freeBytes = freeBytes; }

void SetDriveGeometry(const std::string& root, DWORD sectorsPerCluster, DWORD bytesPerSector)
{
    Drive& d = DriveOrThrow(root);
    d.sectorsPerCluster = sectorsPerCluster;
    d.bytesPerSector = bytesPerSector;
}

void SetCurrentDirectory(const std::string& folder)
{
    Path p = ParseOrThrow(folder);
    if (!NodeOrThrow(folder, true)->folder)
        throw std::logic_error("fake: not a folder: " + folder);
    p.trailingSeparator = false;
    M().currentDirectory = p;
}

void AddFolder(const std::string& path)
{
    Path p = ParseOrThrow(path);
    LayOutFolders(p, p.parts.size());
}

void AddFile(const std::string& path, const std::string& contents, DWORD attributes)
{
    Node* file = FileToWrite(path);
    file->data = contents;
    file->big = false;
    file->attributes = attributes & ~(DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
}

void AddBigFile(const std::string& path, ULONGLONG size)
{
    Node* file = FileToWrite(path);
    file->data.clear();
    file->big = true;
    file->bigSize = size;
    file->attributes = FILE_ATTRIBUTE_ARCHIVE;
}

void AddLink(const std::string& path, const std::string& target)
{
    Path p = ParseOrThrow(path);
    Path t = ParseOrThrow(target);
    if (p.parts.empty())
        throw std::logic_error("fake: a link cannot be a root: " + path);
    Node* folder = LayOutFolders(p, p.parts.size() - 1);
    if (FindChild(folder, p.parts.back()))
        throw std::logic_error("fake: entry exists: " + path);
    std::string targetText = t.volume;
    for (const std::string& part : t.parts)
        targetText += "\\" + part;
    if (t.parts.empty())
        targetText += "\\";
    AddChild(folder, p.parts.back(), true)->linkTarget = targetText;
}

void SetFolderWritable(const std::string& folder, bool writable)
{
    Node* node = NodeOrThrow(folder, true);
    if (!node->folder)
        throw std::logic_error("fake: not a folder: " + folder);
    node->notWritable = !writable;
}

void SetSecurity(const std::string& path, const Security& security)
{
    NodeOrThrow(path, true)->security = std::make_unique<Security>(security);
}

Security GetSecurity(const std::string& path)
{
    Node* node = NodeOrThrow(path, true);
    return node->security ? *node->security : Security();
}

void Remove(const std::string& path)
{
    Node* node = NodeOrThrow(path, false);
    if (!node->parent)
        throw std::logic_error("fake: cannot remove a root");
    if (HasOpensInside(node))
        throw std::logic_error("fake: open files below " + path);
    Detach(node);
}

bool Exists(const std::string& path)
{
    Path p;
    DWORD error = 0;
    return ParsePath(path.c_str(), p, error, false, false) && Resolve(p, false).node != nullptr;
}

bool IsFolder(const std::string& path) { return Exists(path) && NodeOrThrow(path, false)->folder; }
bool IsLink(const std::string& path) { return Exists(path) && NodeOrThrow(path, false)->IsLink(); }

std::string Contents(const std::string& file)
{
    Node* node = NodeOrThrow(file, true);
    if (node->folder)
        throw std::logic_error("fake: not a file: " + file);
    return node->big ? std::string(node->bigSize, '\0') : node->data;
}

std::vector<std::string> ListTree(const std::string& folder)
{
    std::vector<std::string> out;
    for (auto& [rel, node] : Tree(folder))
        out.push_back(rel);
    return out;
}

std::map<std::string, std::string> Snapshot(const std::string& folder)
{
    std::map<std::string, std::string> out;
    for (auto& [rel, node] : Tree(folder)) {
        if (node->IsLink())
            out[rel] = "<link to " + node->linkTarget + ">";
        else if (node->folder)
            out[rel] = "<folder>";
        else if (node->big)
            out[rel] = "<" + std::to_string(node->bigSize) + " bytes>";
        else
            out[rel] = node->data;
    }
    return out;
}

static std::string EnvKey(std::string name)
{
    for (char& c : name)
        c = (char)std::toupper((unsigned char)c);
    return name;
}

void SetEnv(const std::string& name, const std::string& value) { M().env[EnvKey(name)] = value; }
void UnsetEnv(const std::string& name) { M().env.erase(EnvKey(name)); }
void SetTempPath(const std::string& text)
{
    M().tempPath = text;
    M().tempPathWide.clear();
}

void SetTempPathWide(const std::wstring& text) { M().tempPathWide = text; }
void SetTempPathCutWhenShort(bool cut) { M().tempPathCut = cut; }
void SetVersion(BYTE major, BYTE minor, WORD build) { M().version = ((DWORD)build << 16) | ((DWORD)minor << 8) | major; }

void SetCodePage(UINT codePage)
{
    if (codePage != 1252 && codePage != 932)
        throw std::logic_error("fake: code page 1252 or 932 only");
    M().codePage = codePage;
}

void SetModulePath(const std::string& path)
{
    M().modulePath = path;
    M().modulePathWide.clear();
}

void SetModulePathWide(const std::wstring& path)
{
    M().modulePathWide = path;
    M().modulePath.clear();
}
void SetCommandLine(const std::wstring& commandLine) { M().commandLine = commandLine; }
void SetStartupInfo(const STARTUPINFOA& info) { M().startupInfo = info; }

int HoldOpenExternally(const std::string& file, DWORD access, DWORD shareMode)
{
    Node* node = NodeOrThrow(file, true);
    if (node->folder)
        throw std::logic_error("fake: not a file: " + file);
    uintptr_t id = NewHandle();
    M().opens[id] = FileOpen{node, access, shareMode, 0, true};
    return (int)id;
}

void ReleaseExternalOpen(int id) { M().opens.erase((uintptr_t)id); }

void FailCall(const std::string& function, int nth, DWORD error, const std::string& path)
{
    M().injections.push_back(Injection{function, path, nth, error, false, Throw::Fake});
}

void ThrowFromCall(const std::string& function, int nth, Throw what, const std::string& path)
{
    M().injections.push_back(Injection{function, path, nth, 0, true, what});
}

void ThrowAfterMove(const std::string& path)
{
    Injection death{"MoveFileA", path, 1, 0, true, Throw::Fake};
    death.after = true;
    M().injections.push_back(death);
}

void HoldUpCall(const std::string& function, const std::string& path, DWORD error, DWORD milliseconds)
{
    M().holdUps.push_back(HoldUp{function, path, error, M().clock + milliseconds});
}

void ClearInjections()
{
    M().injections.clear();
    M().holdUps.clear();
}
void SetLinksRemovable(bool removable) { M().linksRemovable = removable; }
void SetShellDropsFileErrors(bool drops) { M().shellDropsFileErrors = drops; }

void ShellCancelAfterFiles(int files, UINT onlyFunc)
{
    M().shellCancelAfter = files;
    M().shellCancelFunc = onlyFunc;
}

void ShellReturnError(int result, bool perform, UINT onlyFunc)
{
    M().shellError = result;
    M().shellErrorPerform = perform;
    M().shellErrorFunc = onlyFunc;
}

const std::vector<CallRecord>& Calls() { return M().calls; }

int CallCount(const std::string& function, const std::string& argContains)
{
    int n = 0;
    for (const CallRecord& c : M().calls)
        if (c.function == function && c.arg.find(argContains) != std::string::npos)
            ++n;
    return n;
}

void ClearCalls() { M().calls.clear(); }
const std::vector<ProcessRecord>& Processes() { return M().processes; }
const std::vector<MessageBoxRecord>& MessageBoxes() { return M().messageBoxes; }
const std::vector<ShellOpRecord>& ShellOps() { return M().shellOps; }

int OpenFileHandles()
{
    int n = 0;
    for (const auto& [id, open] : M().opens)
        n += open.external ? 0 : 1;
    return n + M().openTokens;
}

int OpenSearches() { return (int)M().searches.size(); }
int OutstandingArgvBlocks() { return (int)M().argvBlocks.size(); }
int BadHandleCloses() { return M().badHandleCloses; }
int BadLocalFrees() { return M().badLocalFrees; }
int OpenMutexHandles() { return (int)M().mutexHandles.size(); }

int OwnedMutexes()
{
    int owned = 0;
    for (const auto& entry : M().mutexes)
        owned += entry.second.owned;
    return owned;
}

}  // namespace fake
