#pragma once
// PDF files made for the tests: any objects as a classic file, and documents
// that ask a PDF reader for more work than they are worth: a page
// whose content stream is Flate over Flate over Flate (a few hundred bytes
// that decode to gigabytes), an object stream made the same way, and a
// plain page tree of very many pages.
#include <zlib.h>

#include <cstddef>
#include <string>
#include <vector>

namespace TestPdfs {

// A classic PDF file of these objects (numbered from 1, the catalog first),
// with more trailer entries if given.
inline std::string PdfOf(const std::vector<std::string>& objects, const std::string& trailer = "") {
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    offsets.reserve(objects.size());
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        const std::string number = std::to_string(offset);
        pdf += std::string(10 - number.size(), '0') + number + " 00000 n \n";
    }
    return pdf + "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" + trailer + " >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
}

inline std::string Deflated(const std::string& data, int flush, z_stream& z) {
    std::string out;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    char buffer[64 * 1024];
    do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        deflate(&z, flush);
        out.append(buffer, sizeof buffer - z.avail_out);
    } while (z.avail_out == 0);
    return out;
}

inline std::string Zlib(const std::string& data) {
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    const std::string out = Deflated(data, Z_FINISH, z);
    deflateEnd(&z);
    return out;
}

// The zlib stream of megabytes of spaces, made without compressing them
// all: after a full flush each megabyte compresses to the same bytes, so
// one is repeated and the checksum is combined.
inline std::string ZlibOfSpaces(std::size_t megabytes) {
    const std::string mb(1 << 20, ' ');
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    const std::string first = Deflated(mb, Z_FULL_FLUSH, z); // the 2-byte header, then the block
    const std::string block = Deflated(mb, Z_FULL_FLUSH, z);
    std::string end = Deflated(std::string(), Z_FINISH, z); // the last block, then the checksum
    deflateEnd(&z);
    const uLong one = adler32(1, reinterpret_cast<const Bytef*>(mb.data()), static_cast<uInt>(mb.size()));
    uLong sum = one;
    for (std::size_t i = 1; i < megabytes; ++i) sum = adler32_combine(sum, one, static_cast<z_off_t>(mb.size()));
    std::string out = first;
    out.reserve(first.size() + block.size() * megabytes + end.size());
    for (std::size_t i = 1; i < megabytes; ++i) out += block;
    end.resize(end.size() - 4);
    for (int shift = 24; shift >= 0; shift -= 8) end += static_cast<char>((sum >> shift) & 0xFF);
    return out + end;
}

// 2 GB of spaces, Flate-encoded three times over: under 300 bytes.
inline std::string NestedSpaces() { return Zlib(Zlib(ZlibOfSpaces(2048))); }

// One page whose content is NestedSpaces: under a kilobyte on disk.
inline std::string NestedFlatePdf() {
    const std::string content = NestedSpaces();
    return PdfOf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 800] /Contents 4 0 R >>",
                  "<< /Length " + std::to_string(content.size()) +
                      " /Filter [/FlateDecode /FlateDecode /FlateDecode] >>\nstream\n" + content + "\nendstream"});
}

// A document whose catalog is said to be in an object stream that is
// NestedSpaces: a reader holds the whole stream before it finds nothing in
// it, so it needs gigabytes before anything can be checked.
inline std::string NestedFlateObjectStreamPdf() {
    const std::string content = NestedSpaces();
    std::string pdf = "%PDF-1.5\n";
    std::vector<std::size_t> offsets(6);
    const auto add = [&](int number, const std::string& body) {
        offsets[number] = pdf.size();
        pdf += std::to_string(number) + " 0 obj\n" + body + "\nendobj\n";
    };
    add(2, "<< /Type /ObjStm /N 1 /First 4 /Length " + std::to_string(content.size()) +
               " /Filter [/FlateDecode /FlateDecode /FlateDecode] >>\nstream\n" + content + "\nendstream");
    add(3, "<< /Type /Pages /Kids [4 0 R] /Count 1 >>");
    add(4, "<< /Type /Page /Parent 3 0 R /MediaBox [0 0 600 800] >>");
    offsets[5] = pdf.size();
    // Cross-reference stream rows: type, offset or object stream, generation or index.
    std::string rows;
    const auto row = [&rows](int type, std::size_t field2, int field3) {
        rows += static_cast<char>(type);
        for (int shift = 24; shift >= 0; shift -= 8) rows += static_cast<char>((field2 >> shift) & 0xFF);
        rows += static_cast<char>((field3 >> 8) & 0xFF);
        rows += static_cast<char>(field3 & 0xFF);
    };
    row(0, 0, 65535);
    row(2, 2, 0); // the catalog, first in object stream 2
    for (int number = 2; number <= 5; ++number) row(1, offsets[number], 0);
    const std::size_t xref = pdf.size();
    add(5, "<< /Type /XRef /Size 6 /W [1 4 2] /Root 1 0 R /Length " + std::to_string(rows.size()) + " >>\nstream\n" +
               rows + "\nendstream");
    return pdf + "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

// pages empty pages sharing one content stream; the page tree says it has
// declared pages.
inline std::string ManyPagesPdf(std::size_t pages, std::size_t declared) {
    std::string kids;
    kids.reserve(pages * 10);
    for (std::size_t i = 0; i < pages; ++i) kids += std::to_string(i + 4) + " 0 R ";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(declared) + " /MediaBox [0 0 600 800] >>",
        "<< /Length 0 >>\nstream\n\nendstream"};
    objects.resize(3 + pages, "<< /Type /Page /Parent 2 0 R /Contents 3 0 R >>");
    return PdfOf(objects);
}

} // namespace TestPdfs
