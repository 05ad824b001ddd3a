// The simulated printer rebuilds a received file from its chunks: by chunk
// index, in any order, or in arrival order when the sender gives no index;
// it checks index, chunk size and final size, and renames the temporary file
// only when the file is complete.
#include "SimPrinter.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr int K = static_cast<int>(sim::kChunkBytes);
constexpr int kFile = 2 * K + 10;  // sent in 3 chunks

TEST(PrinterFiles, RebuildByChunkIndexAndCheckEveryChunk)
{
    struct Piece
    {
        int index;       // "chunk_index" as delivered (0 when the sender gives none)
        int from, size;  // bytes of the file
    };
    const struct
    {
        const char* name;
        qint64 declared;  // "file_size"
        std::vector<Piece> pieces;
        std::vector<int> codes;  // the result code of each chunk
        bool complete;
    } cases[] = {
        {"in_order", kFile, {{0, 0, K}, {1, K, K}, {2, 2 * K, 10}}, {0, 0, 0}, true},
        {"reverse_order", kFile, {{2, 2 * K, 10}, {1, K, K}, {0, 0, K}}, {0, 0, 0}, true},
        {"no_index_arrival_order", kFile, {{0, 0, K}, {0, K, K}, {0, 2 * K, 10}}, {0, 0, 0}, true},
        {"missing_chunk", kFile, {{0, 0, K}, {2, 2 * K, 10}}, {0, 0}, false},
        {"index_out_of_range", kFile, {{0, 0, K}, {3, K, K}}, {0, 4}, false},
        {"short_middle_chunk", kFile, {{0, 0, K}, {1, K, 10}}, {0, 4}, false},
        {"chunk_beyond_declared_size", kFile - 20, {{0, 0, K}, {1, K, K}, {2, 2 * K, 10}}, {0, 4, 4}, false},
        {"file_shorter_than_declared", kFile + 5, {{0, 0, K}, {1, K, K}, {2, 2 * K, 10}}, {0, 0, 2}, false},
    };
    std::vector<unsigned char> file(kFile);
    for (int i = 0; i < kFile; ++i)
        file[i] = static_cast<unsigned char>(i * 7 + i / 4096);

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        sim::PrinterOptions o;
        o.filesDir = dir.path();
        sim::SimPrinter printer(o);  // not started: the callbacks work without a session
        for (size_t i = 0; i < c.pieces.size(); ++i) {
            const Piece& p = c.pieces[i];
            std::vector<unsigned char> data(file.begin() + p.from, file.begin() + p.from + p.size);
            data.push_back(0);
            __SCLOUD_FILE_TRANSFER ch{};
            std::strcpy(ch.szFileName, "../job.prn");  // reduced to its last component
            ch.llFileSize = c.declared;
            ch.iTotalChunks = 3;
            ch.iChunkIndex = p.index;
            ch.iChunkSize = p.size;
            ch.pData = data.data();
            __SCLOUD_FILE_TRANSFER_RESULT r{};
            printer.OnFileTransfer(&ch, &r);
            EXPECT_EQ(r.iCode, c.codes[i]) << "chunk " << i;
            EXPECT_EQ(QString::fromUtf8(r.szFilePath), dir.path() + "/job.prn");
        }
        QFile out(dir.path() + "/job.prn");
        EXPECT_EQ(out.exists(), c.complete);
        if (c.complete) {
            ASSERT_TRUE(out.open(QIODevice::ReadOnly));
            EXPECT_EQ(out.readAll(), QByteArray(reinterpret_cast<const char*>(file.data()), kFile));
            EXPECT_FALSE(QFile::exists(dir.path() + "/.job.prn.part"));
        }
    }
}

} // namespace
