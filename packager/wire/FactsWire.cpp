#include "FactsWire.h"

namespace FactsWire {

// What real packages send: a file row takes about 60 bytes here (a name of
// some 40, its length, attributes and sequence), and the biggest packages
// hold 30,000 to 50,000 files, 3 MiB; an icon of every size is rarely over
// 1 MiB. Twice that is room to spare, and all the tool holds of an answer,
// whatever a reader led astray sends.
const std::size_t maxAnswerBytes = std::size_t(8) << 20;
// Far beyond any value a package means; a flood is refused field by field.
const std::size_t maxTextBytes = std::size_t(64) << 10;
// 255 UTF-16 units take at most 765 bytes in UTF-8, with the short name and
// its bar 778.
const std::size_t maxNameBytes = 1024;

namespace {

// "BRF" and the form's version, then 'F' (facts) or 'R' (refusal). Numbers
// are little-endian; a text or byte string is its 32-bit length and bytes; a
// list is its 32-bit count and items.
const std::uint8_t magic[4] = {'B', 'R', 'F', 2};
const std::uint8_t factsKind = 'F';
const std::uint8_t refusalKind = 'R';

class Writer {
public:
    explicit Writer(std::uint8_t kind) : bytes(magic, magic + sizeof(magic)) {
        bytes.push_back(kind);
    }
    void number(std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        }
    }
    void count(std::size_t n) {
        if (n > 0xFFFFFFFFu) {
            // No package holds four billion of anything, nor a text that long.
            throw std::length_error("more than the answer's form can hold");
        }
        number(n, 4);
    }
    void text(const std::string& s) {
        count(s.size());
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    void blob(const std::vector<std::uint8_t>& b) {
        count(b.size());
        bytes.insert(bytes.end(), b.begin(), b.end());
    }

    std::vector<std::uint8_t> bytes;
};

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : at(data), left(size) {}

    std::uint64_t number(int width) {
        need(static_cast<std::size_t>(width), "a number");
        std::uint64_t value = 0;
        for (int i = 0; i < width; ++i) {
            value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
        }
        take(static_cast<std::size_t>(width));
        return value;
    }
    std::uint8_t byte() { return static_cast<std::uint8_t>(number(1)); }
    // Each item of a list takes at least `itemSize` bytes: a count the bytes
    // left cannot hold is refused before anything is made for it.
    std::size_t count(std::size_t itemSize) {
        const std::uint64_t n = number(4);
        if (itemSize > 0 && n > left / itemSize) {
            throw Malformed("a count of " + std::to_string(n) + " beyond the answer's end");
        }
        return static_cast<std::size_t>(n);
    }
    // `what` names the field when it is longer than `limit` bytes.
    std::string text(const char* what, std::size_t limit = maxTextBytes) {
        const std::size_t n = count(1);
        if (n > limit) {
            throw Malformed(std::string("a ") + what + " of " + std::to_string(n) +
                            " bytes, more than " + std::to_string(limit));
        }
        std::string s(reinterpret_cast<const char*>(at), n);
        take(n);
        return s;
    }
    std::vector<std::uint8_t> blob() {
        const std::size_t n = count(1);
        std::vector<std::uint8_t> b(at, at + n);
        take(n);
        return b;
    }
    void end() const {
        if (left != 0) {
            throw Malformed(std::to_string(left) + " bytes after the answer's end");
        }
    }

private:
    void need(std::size_t n, const char* what) const {
        if (n > left) {
            throw Malformed(std::string("the answer ends inside ") + what);
        }
    }
    void take(std::size_t n) {
        at += n;
        left -= n;
    }

    const std::uint8_t* at;
    std::size_t left;
};

}  // namespace

std::string overLimit(const PackageFacts& facts) {
    const PackageDetails& d = facts.details;
    // The answer's size, added up as encode() writes it.
    std::uint64_t size = sizeof(magic) + 1 + 4 + facts.icon.size() + 8 + 8 + 4 + 4 + 8;
    for (const std::string* s :
         {&facts.productCode, &facts.productName, &facts.productVersion, &facts.manufacturer,
          &facts.iconName, &d.upgradeCode, &d.allUsers, &d.installPerUser, &d.summaryTemplate}) {
        if (s->size() > maxTextBytes) {
            return "a property value of " + std::to_string(s->size()) + " bytes, more than " +
                   std::to_string(maxTextBytes);
        }
        size += 4 + s->size();
    }
    for (const PackageDetails::Media& media : d.media) {
        if (media.cabinet.size() > maxNameBytes) {
            return "a cabinet name of " + std::to_string(media.cabinet.size()) +
                   " bytes, more than " + std::to_string(maxNameBytes);
        }
        size += 8 + 4 + media.cabinet.size() + 8;
    }
    for (const PackageDetails::File& file : d.files) {
        if (file.name.size() > maxNameBytes) {
            return "a file name of " + std::to_string(file.name.size()) + " bytes, more than " +
                   std::to_string(maxNameBytes);
        }
        size += 4 + file.name.size() + 8 + 8;
    }
    if (size > maxAnswerBytes) {
        return "an answer of " + std::to_string(size) + " bytes (" +
               std::to_string(d.files.size()) + " File rows, " + std::to_string(d.media.size()) +
               " Media rows, an icon of " + std::to_string(facts.icon.size()) +
               " bytes), more than " + std::to_string(maxAnswerBytes);
    }
    return std::string();
}

std::vector<std::uint8_t> encode(const PackageFacts& facts) {
    Writer out(factsKind);
    for (const std::string* s : {&facts.productCode, &facts.productName, &facts.productVersion,
                                 &facts.manufacturer, &facts.iconName}) {
        out.text(*s);
    }
    out.blob(facts.icon);
    const PackageDetails& d = facts.details;
    for (const std::string* s :
         {&d.upgradeCode, &d.allUsers, &d.installPerUser, &d.summaryTemplate}) {
        out.text(*s);
    }
    out.number(static_cast<std::uint64_t>(d.pageCount), 8);
    out.number(static_cast<std::uint64_t>(d.wordCount), 8);
    out.count(d.media.size());
    for (const PackageDetails::Media& media : d.media) {
        out.number(static_cast<std::uint64_t>(media.diskId), 8);
        out.text(media.cabinet);
        out.number(static_cast<std::uint64_t>(media.lastSequence), 8);
    }
    out.count(d.files.size());
    for (const PackageDetails::File& file : d.files) {
        out.text(file.name);
        out.number(static_cast<std::uint64_t>(file.attributes), 8);
        out.number(static_cast<std::uint64_t>(file.sequence), 8);
    }
    out.number(static_cast<std::uint64_t>(d.components64Bit), 8);
    return out.bytes;
}

std::vector<std::uint8_t> encodeRefusal(const std::string& refusal) {
    Writer out(refusalKind);
    out.text(refusal);
    return out.bytes;
}

Answer decode(const std::uint8_t* data, std::size_t size) {
    Reader in(data, size);
    for (const std::uint8_t expected : magic) {
        if (in.byte() != expected) {
            throw Malformed("it does not begin as an answer does");
        }
    }
    Answer answer;
    const std::uint8_t kind = in.byte();
    if (kind == refusalKind) {
        answer.refusal = in.text("refusal");
        if (answer.refusal.empty()) {
            throw Malformed("a refusal without words");
        }
        in.end();
        return answer;
    }
    if (kind != factsKind) {
        throw Malformed("an answer of unknown kind " + std::to_string(kind));
    }
    PackageFacts& facts = answer.facts;
    for (std::string* s : {&facts.productCode, &facts.productName, &facts.productVersion,
                           &facts.manufacturer, &facts.iconName}) {
        *s = in.text("property value");
    }
    facts.icon = in.blob();
    PackageDetails& d = facts.details;
    for (std::string* s : {&d.upgradeCode, &d.allUsers, &d.installPerUser, &d.summaryTemplate}) {
        *s = in.text("property value");
    }
    d.pageCount = static_cast<std::int64_t>(in.number(8));
    d.wordCount = static_cast<std::int64_t>(in.number(8));
    d.media.resize(in.count(8 + 4 + 8));
    for (PackageDetails::Media& media : d.media) {
        media.diskId = static_cast<std::int64_t>(in.number(8));
        media.cabinet = in.text("cabinet name", maxNameBytes);
        media.lastSequence = static_cast<std::int64_t>(in.number(8));
    }
    d.files.resize(in.count(4 + 8 + 8));
    for (PackageDetails::File& file : d.files) {
        file.name = in.text("file name", maxNameBytes);
        file.attributes = static_cast<std::int64_t>(in.number(8));
        file.sequence = static_cast<std::int64_t>(in.number(8));
    }
    d.components64Bit = static_cast<std::int64_t>(in.number(8));
    in.end();
    return answer;
}

}  // namespace FactsWire
