#include "SimCard.h"

#include <algorithm>
#include <fstream>
#include <limits>

#include "PathText.h"
#include "UnitNames.h"
#include "UnitWire.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

// Lower case of one Windows-1252 byte: ASCII, the accented Latin letters and the four pairs in
// 0x80-0x9F, so "CAFÉ.QXM" finds "Café.qxm" as on the unit's FAT card.
uint8_t Lower(char c)
{
    const auto u = static_cast<uint8_t>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
        return static_cast<uint8_t>(u + 0x20);
    switch (u) {
    case 0x8A: // Š
    case 0x8C: // Œ
    case 0x8E: // Ž
        return static_cast<uint8_t>(u + 0x10);
    case 0x9F: // Ÿ
        return 0xFF;
    default:
        return u;
    }
}

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Lower(x) == Lower(y);
           });
}

// The unit's bytes for the name of a file on the card's disk; false for a name the unit could not
// hold in its 8-bit code page (such a file is invisible to the unit).
bool UnitBytesOf(const fs::path& path, std::string& unitName)
{
    std::string unused;
    return EncodeUnitName(Utf8FromPath(path.filename()), unitName, unused);
}

// Case-folded byte order; names that differ only in case (possible on the PC's disk) fall back to
// their bytes, so a listing repeats.
bool ListedBefore(const std::string& a, const std::string& b)
{
    const auto folded = [](char x, char y) { return Lower(x) < Lower(y); };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), folded))
        return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), folded))
        return false;
    const auto bytes = [](char x, char y) { return static_cast<uint8_t>(x) < static_cast<uint8_t>(y); };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), bytes);
}

bool IsLink(const fs::path& path)
{
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

} // namespace

SimCard::SimCard(fs::path root) : RootFolder(std::move(root))
{
    std::error_code ec;
    fs::create_directories(RootFolder / "Maps", ec);
    fs::create_directories(RootFolder / "Logs", ec);
}

bool SimCard::SafeName(const std::string& name)
{
    return UnitNameRefusal(DecodeUnitName(name)).empty();
}

bool SimCard::Matches(const std::string& pattern, const std::string& name)
{
    if (pattern == "*.*" || pattern == "*")
        return true;
    // Iterative wildcard match: remember the last '*' and retry from there.
    size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

uint8_t SimCard::ResolveEntry(const fs::path& folder, const std::string& name, fs::path& out) const
{
    if (!SafeName(name))
        return StatusBadName;
    std::error_code ec;
    fs::path exact = folder / PathFromUtf8(DecodeUnitName(name));
    if (fs::symlink_status(exact, ec).type() != fs::file_type::not_found && !ec) {
        if (IsLink(exact))
            return StatusBadName;
        out = exact;
        return StatusOk;
    }
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string unitName;
        if (UnitBytesOf(it->path(), unitName) && SameName(unitName, name)) {
            if (IsLink(it->path()))
                return StatusBadName;
            out = it->path();
            return StatusOk;
        }
    }
    return StatusFileNotFound;
}

uint8_t SimCard::ResolveFolder(const std::string& folder, fs::path& out) const
{
    if (folder.size() < 3 || Lower(folder[0]) != 'a' || folder[1] != ':' || folder[2] != '\\')
        return StatusFolderNotFound;
    fs::path current = RootFolder;
    size_t start = 3;
    while (start < folder.size()) {
        size_t end = folder.find('\\', start);
        if (end == std::string::npos)
            end = folder.size();
        const std::string part = folder.substr(start, end - start);
        // A single trailing backslash ends the loop without an empty part; "\\" does not.
        if (part.empty())
            return StatusBadName;
        fs::path next;
        const uint8_t status = ResolveEntry(current, part, next);
        if (status == StatusFileNotFound)
            return StatusFolderNotFound;
        if (status != StatusOk)
            return status;
        std::error_code ec;
        if (!fs::is_directory(next, ec))
            return StatusFolderNotFound;
        current = next;
        start = end + 1;
    }
    out = current;
    return StatusOk;
}

uint8_t SimCard::ResolveFile(const std::string& folder, const std::string& name, fs::path& out) const
{
    fs::path directory;
    uint8_t status = ResolveFolder(folder, directory);
    if (status != StatusOk)
        return status;
    status = ResolveEntry(directory, name, out);
    if (status != StatusOk)
        return status;
    std::error_code ec;
    return fs::is_regular_file(out, ec) ? StatusOk : StatusNotAFile;
}

uint8_t SimCard::List(const std::string& folder, const std::string& pattern, std::vector<CardEntry>& entries) const
{
    entries.clear();
    fs::path directory;
    const uint8_t status = ResolveFolder(folder, directory);
    if (status != StatusOk)
        return status;
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        // Links, names outside Windows-1252 (put on the card's disk by hand, say "Ω.qxm") and names
        // a FAT card could not hold are invisible to the unit: a listing cannot give them as bytes,
        // or gives a name no request could reach.
        std::string name;
        if (IsLink(it->path()) || !UnitBytesOf(it->path(), name) || !SafeName(name) || !Matches(pattern, name))
            continue;
        std::error_code entryError;
        CardEntry entry{name, it->is_directory(entryError), 0};
        if (!entry.Folder) {
            if (!it->is_regular_file(entryError))
                continue;
            const auto size = it->file_size(entryError);
            entry.Size = static_cast<uint32_t>(std::min<uintmax_t>(size, std::numeric_limits<uint32_t>::max()));
        }
        entries.push_back(entry);
    }
    if (ec)
        return StatusCardError;
    // A stable order, so listings repeat; the FAT order of a real card is not meaningful either.
    std::sort(entries.begin(), entries.end(),
              [](const CardEntry& a, const CardEntry& b) { return ListedBefore(a.Name, b.Name); });
    return StatusOk;
}

uint8_t SimCard::Size(const std::string& folder, const std::string& name, uint32_t& size) const
{
    fs::path path;
    const uint8_t status = ResolveFile(folder, name, path);
    if (status != StatusOk)
        return status;
    std::error_code ec;
    const auto bytes = fs::file_size(path, ec);
    if (ec || bytes > std::numeric_limits<uint32_t>::max())
        return StatusCardError;
    size = static_cast<uint32_t>(bytes);
    return StatusOk;
}

uint8_t SimCard::Read(const std::string& folder, const std::string& name, uint32_t offset, uint32_t wanted,
                      std::vector<uint8_t>& data) const
{
    data.clear();
    fs::path path;
    uint8_t status = ResolveFile(folder, name, path);
    if (status != StatusOk)
        return status;
    uint32_t size = 0;
    status = Size(folder, name, size);
    if (status != StatusOk)
        return status;
    if (offset > size)
        return StatusBadOffset;
    const uint32_t count = std::min(wanted, size - offset);
    if (count == 0)
        return StatusOk;
    std::ifstream file(path, std::ios::binary);
    data.resize(count);
    file.seekg(offset);
    file.read(reinterpret_cast<char*>(data.data()), count);
    if (!file || static_cast<uint32_t>(file.gcount()) != count) {
        data.clear();
        return StatusCardError;
    }
    return StatusOk;
}

uint8_t SimCard::Write(const std::string& folder, const std::string& name, uint32_t offset, const uint8_t* data,
                       uint32_t count)
{
    if (Locked)
        return StatusCardLocked;
    fs::path directory;
    uint8_t status = ResolveFolder(folder, directory);
    if (status != StatusOk)
        return status;
    fs::path path;
    status = ResolveEntry(directory, name, path);
    if (status == StatusFileNotFound) {
        if (offset != 0)
            return StatusFileNotFound;
        path = directory / PathFromUtf8(DecodeUnitName(name));
    } else if (status != StatusOk) {
        return status;
    } else {
        std::error_code ec;
        if (!fs::is_regular_file(path, ec))
            return StatusNotAFile;
        if (offset != 0 && fs::file_size(path, ec) != offset)
            return StatusBadOffset;
        if (ec)
            return StatusCardError;
    }
    if (count > std::numeric_limits<uint32_t>::max() - offset)
        return StatusBadOffset;
    std::ofstream file(path, std::ios::binary | (offset == 0 ? std::ios::trunc : std::ios::app));
    file.write(reinterpret_cast<const char*>(data), count);
    file.flush();
    return file ? StatusOk : StatusCardError;
}

uint8_t SimCard::Remove(const std::string& folder, const std::string& name)
{
    if (Locked)
        return StatusCardLocked;
    fs::path path;
    const uint8_t status = ResolveFile(folder, name, path);
    if (status != StatusOk)
        return status;
    std::error_code ec;
    return fs::remove(path, ec) && !ec ? StatusOk : StatusCardError;
}

} // namespace sim
