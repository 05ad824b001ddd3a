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

struct Piece
{
    int index;       // "chunk_index" as delivered (0 when the sender gives none)
    int from, size;  // bytes of the file
};

struct Case
{
    const char* name;
    qint64 declared;          // "file_size"
    int total;                // "total_chunks"
    std::vector<Piece> pieces;
    std::vector<int> codes;   // the result code of each chunk
    bool complete;
};

constexpr int K = static_cast<int>(sim::kChunkBytes);
constexpr int kFile = 2 * K + 10;

class PrinterFiles : public ::testing::TestWithParam<Case>
{
};

TEST_P(PrinterFiles, RebuildsByChunkIndex)
{
    const Case& c = GetParam();
    QTemporaryDir dir;
    sim::PrinterOptions o;
    o.filesDir = dir.path();
    sim::SimPrinter printer(o);  // not started: the callbacks work without a session
    std::vector<unsigned char> file(kFile);
    for (int i = 0; i < kFile; ++i)
        file[i] = static_cast<unsigned char>(i * 7 + i / 4096);

    for (size_t i = 0; i < c.pieces.size(); ++i) {
        const Piece& p = c.pieces[i];
        std::vector<unsigned char> data(file.begin() + p.from, file.begin() + p.from + p.size);
        data.push_back(0);
        __SCLOUD_FILE_TRANSFER ch{};
        std::strcpy(ch.szFileName, "../job.prn");  // reduced to its last component
        ch.llFileSize = c.declared;
        ch.iTotalChunks = c.total;
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

INSTANTIATE_TEST_SUITE_P(
    Orders, PrinterFiles,
    ::testing::Values(
        Case{"in_order", kFile, 3, {{0, 0, K}, {1, K, K}, {2, 2 * K, 10}}, {0, 0, 0}, true},
        Case{"reverse_order", kFile, 3, {{2, 2 * K, 10}, {1, K, K}, {0, 0, K}}, {0, 0, 0}, true},
        Case{"no_index_arrival_order", kFile, 3, {{0, 0, K}, {0, K, K}, {0, 2 * K, 10}}, {0, 0, 0}, true},
        Case{"missing_chunk", kFile, 3, {{0, 0, K}, {2, 2 * K, 10}}, {0, 0}, false},
        Case{"index_out_of_range", kFile, 3, {{0, 0, K}, {3, K, K}}, {0, 4}, false},
        Case{"short_middle_chunk", kFile, 3, {{0, 0, K}, {1, K, 10}}, {0, 4}, false},
        Case{"chunk_beyond_declared_size", kFile - 20, 3, {{0, 0, K}, {1, K, K}, {2, 2 * K, 10}}, {0, 4, 4}, false},
        Case{"file_shorter_than_declared", kFile + 5, 3, {{0, 0, K}, {1, K, K}, {2, 2 * K, 10}}, {0, 0, 2}, false}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

} // namespace
