#pragma once
// Builds ZIP archives in memory for tests: stored or deflated entries, any name bytes, attributes and
// flags, and deliberate damage (a wrong CRC, a lying size). Header-only so the Windows tests share it.
#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantorix::testing {

struct ZipEntrySpec {
    std::string name;              // stored bytes of the name
    std::string data;
    bool deflate = true;
    uint32_t external_attributes = 0;  // 0x10: MS-DOS directory
    uint16_t flags = 0;            // 0x800: name is UTF-8
    bool wrong_crc = false;
    int64_t size_delta = 0;        // added to the stored uncompressed size (a lie)
    std::string central_extra;     // extra field of the central directory record
};

// Info-ZIP's Unicode Path extra field for a name stored in a legacy code page.
inline std::string UnicodePathExtra(const std::string& stored_name, const std::string& utf8_name) {
    std::string f;
    auto put16 = [&](uint32_t v) { f += static_cast<char>(v & 0xff); f += static_cast<char>((v >> 8) & 0xff); };
    uint32_t crc = static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(stored_name.data()), static_cast<uInt>(stored_name.size())));
    put16(0x7075);
    put16(static_cast<uint32_t>(5 + utf8_name.size()));
    f += '\x01';
    put16(crc & 0xffff);
    put16(crc >> 16);
    f += utf8_name;
    return f;
}

class ZipBuilder {
public:
    ZipBuilder& Add(ZipEntrySpec spec) {
        entries_.push_back(std::move(spec));
        return *this;
    }
    ZipBuilder& File(std::string name, std::string data) {
        ZipEntrySpec e;
        e.name = std::move(name);
        e.data = std::move(data);
        return Add(std::move(e));
    }
    ZipBuilder& Folder(std::string name) {
        ZipEntrySpec e;
        e.name = std::move(name);
        e.deflate = false;
        e.external_attributes = 0x10;
        return Add(std::move(e));
    }

    std::string Build() const {
        std::string out, central;
        for (const ZipEntrySpec& e : entries_) {
            const std::string body = e.deflate ? Deflate(e.data) : e.data;
            uint32_t crc = static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
            if (e.wrong_crc) crc ^= 0x5a5a5a5a;
            const uint32_t usize = static_cast<uint32_t>(static_cast<int64_t>(e.data.size()) + e.size_delta);
            const uint32_t offset = static_cast<uint32_t>(out.size());
            const uint16_t method = e.deflate ? 8 : 0;
            Put32(out, 0x04034b50);
            Put16(out, 20);
            Put16(out, e.flags);
            Put16(out, method);
            Put16(out, 0);        // time
            Put16(out, 0x21);     // date 1980-01-01
            Put32(out, crc);
            Put32(out, static_cast<uint32_t>(body.size()));
            Put32(out, usize);
            Put16(out, static_cast<uint16_t>(e.name.size()));
            Put16(out, 0);
            out += e.name;
            out += body;

            Put32(central, 0x02014b50);
            Put16(central, 20);   // made by: MS-DOS
            Put16(central, 20);
            Put16(central, e.flags);
            Put16(central, method);
            Put16(central, 0);
            Put16(central, 0x21);
            Put32(central, crc);
            Put32(central, static_cast<uint32_t>(body.size()));
            Put32(central, usize);
            Put16(central, static_cast<uint16_t>(e.name.size()));
            Put16(central, static_cast<uint16_t>(e.central_extra.size()));
            Put16(central, 0);
            Put16(central, 0);
            Put16(central, 0);
            Put32(central, e.external_attributes);
            Put32(central, offset);
            central += e.name;
            central += e.central_extra;
        }
        const uint32_t central_offset = static_cast<uint32_t>(out.size());
        out += central;
        Put32(out, 0x06054b50);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, static_cast<uint16_t>(entries_.size()));
        Put16(out, static_cast<uint16_t>(entries_.size()));
        Put32(out, static_cast<uint32_t>(central.size()));
        Put32(out, central_offset);
        Put16(out, 0);
        return out;
    }

    static std::string Deflate(const std::string& data) {
        z_stream z{};
        if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("deflateInit2");
        std::string out(deflateBound(&z, static_cast<uLong>(data.size())) + 16, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z.avail_in = static_cast<uInt>(data.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        int rc = deflate(&z, Z_FINISH);
        deflateEnd(&z);
        if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
        out.resize(z.total_out);
        return out;
    }

private:
    static void Put16(std::string& s, uint16_t v) {
        s += static_cast<char>(v & 0xff);
        s += static_cast<char>(v >> 8);
    }
    static void Put32(std::string& s, uint32_t v) {
        Put16(s, static_cast<uint16_t>(v & 0xffff));
        Put16(s, static_cast<uint16_t>(v >> 16));
    }
    std::vector<ZipEntrySpec> entries_;
};

// Bytes of a given size that compress a little, so deflated entries are not trivial.
inline std::string PatternBytes(size_t size, uint32_t seed = 1) {
    std::string s(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>((i % 7 == 0) ? 'a' : (x >> 24));
    }
    return s;
}

}  // namespace vantorix::testing
