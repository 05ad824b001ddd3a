// The printer's file receiver: chunks by index in any order, duplicates,
// the library's chunks without index, queries, a restart in the middle, a
// partial file damaged while the printer was down, a full disk and a folder
// it cannot write.
#include "ChunkText.h"
#include "FileReceiver.h"

#include "wire/Base64.h"
#include "wire/Md5.h"
#include "wire/PageBytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace tools;

constexpr int kFile = 2 * kChunkBytes + 10;  // three chunks

struct Step
{
    char op;      // c: chunk, n: chunk without index, q: query one chunk, w: whole-file query,
                  // r: printer restarts, x: the partial file is damaged at chunk `index`
    int index;    // chunk_index sent
    int content;  // which chunk's bytes (and digest) travel
    int code;     // expected reply
};

class FileReceiverTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        file.resize(kFile);
        uint32_t x = 12345;
        for (auto& b : file)
            b = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 23);
        restart();
    }
    void restart()
    {
        store.reset();
        store = std::make_unique<sim::FileReceiver>(dirPath.isEmpty() ? dir.path() : dirPath,
                                                 [this](const QString&, const QJsonObject&, const QString& s) { said << s; });
    }
    int send(char op, int index, int content, qint64 size = kFile, int total = 3)
    {
        __SCLOUD_FILE_TRANSFER c{};
        std::strcpy(c.szFileName, "../job.prn");  // reduced to its last component
        c.llFileSize = size;
        c.iTotalChunks = total;
        c.iChunkIndex = op == 'n' ? 0 : op == 'w' ? kWholeFile : index;
        // As the library hands them over: on a page, so the receiver's
        // direct writes take them; one byte further on, so they cannot.
        orlin::PageBytes data;
        if (content >= 0 && content < 3) {
            if (!aligned)
                data.push_back(0);
            const int n = chunkBytes(kFile, content);
            const unsigned char* p = file.data() + qint64(content) * kChunkBytes;
            std::vector<char> text(static_cast<size_t>((n + 2) / 3 * 4));
            orlin::Md5Digest(text.data(), static_cast<size_t>(orlin::Base64Encode(p, n, text.data(), static_cast<int>(text.size()))), c.szMd5);
            data.insert(data.end(), p, p + n);
            data.push_back(0);
            c.iChunkSize = n;
        }
        if (op == 'c' || op == 'n')
            c.pData = data.data() + (aligned ? 0 : 1);
        __SCLOUD_FILE_TRANSFER_RESULT r{};
        QString path;
        r.iCode = store->onChunk(c, path);
        EXPECT_EQ(path, dir.path() + "/job.prn");
        return r.iCode;
    }
    QByteArray received() const
    {
        QFile f(dir.path() + "/job.prn");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QByteArray whole() const { return QByteArray(reinterpret_cast<const char*>(file.data()), kFile); }

    QTemporaryDir dir;
    QString dirPath;
    bool aligned = true;
    std::vector<unsigned char> file;
    std::unique_ptr<sim::FileReceiver> store;
    QStringList said;
};

TEST_F(FileReceiverTest, PutsChunksTogetherWhateverTheirOrderAndRestarts)
{
    const struct
    {
        const char* name;
        std::vector<Step> steps;
        bool complete;
    } cases[] = {
        {"in_order", {{'w', 0, -1, kNotHeld}, {'c', 0, 0, 0}, {'c', 1, 1, 0}, {'c', 2, 2, 0}, {'w', 0, -1, kHeld}}, true},
        {"reverse_with_duplicates", {{'c', 2, 2, 0}, {'c', 2, 2, 0}, {'c', 1, 1, 0}, {'c', 0, 0, 0}, {'c', 1, 1, 0}}, true},
        {"library_order_without_index", {{'n', 0, 0, 0}, {'n', 0, 1, 0}, {'n', 0, 2, 0}}, true},
        {"queries",
         {{'c', 0, 0, 0}, {'w', 0, -1, kPartlyHeld}, {'q', 0, 0, kHeld}, {'q', 0, 1, kNotHeld}, {'q', 1, 1, kNotHeld},
          {'q', 3, 1, kBadChunk}},
         false},
        {"restart_in_the_middle",
         {{'w', 0, -1, kNotHeld}, {'c', 2, 2, 0}, {'c', 0, 0, 0}, {'r', 0, -1, 0}, {'w', 0, -1, kPartlyHeld},
          {'q', 2, 2, kHeld}, {'q', 1, 1, kNotHeld}, {'c', 1, 1, 0}, {'r', 0, -1, 0}, {'w', 0, -1, kHeld},
          {'q', 1, 1, kHeld}},
         true},
        {"damaged_while_down",
         {{'c', 0, 0, 0}, {'c', 1, 1, 0}, {'r', 0, -1, 0}, {'x', 1, -1, 0}, {'c', 2, 2, kBadFile},
          {'q', 1, 1, kNotHeld}, {'q', 0, 0, kHeld}, {'c', 1, 1, 0}},
         true},
        {"bad_chunks",
         {{'c', 3, 1, kBadChunk}, {'c', 1, 2, kBadChunk}, {'c', 0, 0, 0}, {'w', 0, -1, kPartlyHeld}}, false},
    };
    for (const auto& c : cases) {
        for (const bool onPage : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (onPage ? ", bytes on a page" : ", bytes off a page"));
            aligned = onPage;
            store.reset();  // Windows deletes no file that is still open
            QDir(dir.path()).removeRecursively();
            QDir().mkpath(dir.path());
            restart();
            for (size_t i = 0; i < c.steps.size(); ++i) {
                const Step& s = c.steps[i];
                if (s.op == 'r') {
                    restart();
                } else if (s.op == 'x') {
                    QFile part(dir.path() + "/.job.prn.part");
                    ASSERT_TRUE(part.open(QIODevice::ReadWrite));
                    part.seek(qint64(s.index) * kChunkBytes + 5);
                    part.write("Z");
                } else {
                    EXPECT_EQ(send(s.op, s.index, s.content), s.code) << "step " << i;
                }
            }
            EXPECT_EQ(QFile::exists(dir.path() + "/job.prn"), c.complete);
            if (c.complete) {
                EXPECT_TRUE(received() == whole());
                EXPECT_FALSE(QFile::exists(dir.path() + "/.job.prn.part"));
                EXPECT_EQ(said.filter("file received: " + dir.path() + "/job.prn size=" + QString::number(kFile)).size(), 1);
            }
            said.clear();
        }
    }
}

TEST_F(FileReceiverTest, SizeAndCountMustFit)
{
    EXPECT_EQ(send('c', 0, 0, kFile, 2), kBadChunk);   // three chunks for that size
    EXPECT_EQ(send('c', 0, 0, 0, 0), kBadChunk);       // an empty file
    EXPECT_EQ(send('c', 2, 2, kFile + 5, 3), kBadChunk);  // the last chunk's size does not fit
    EXPECT_FALSE(QFile::exists(dir.path() + "/.job.prn.part"));
}

#ifdef __linux__
TEST_F(FileReceiverTest, FullDiskAndUnwritableFolderKeepWhatWasStored)
{
    ASSERT_EQ(send('c', 0, 0), 0);
    // The partial file now sits on a device that is always full.
    QFile::remove(dir.path() + "/.job.prn.part");
    ASSERT_TRUE(QFile::link("/dev/full", dir.path() + "/.job.prn.part"));
    restart();
    EXPECT_EQ(send('c', 1, 1), kNotStored);
    ASSERT_FALSE(said.filter("cannot write chunk 1 of job.prn").isEmpty()) << said.join("\n").toStdString();
    EXPECT_EQ(send('q', 0, 0), kHeld);
    EXPECT_EQ(send('q', 1, 1), kNotHeld);

    dirPath = "/proc/orlin-no-such-folder";
    restart();
    said.clear();
    __SCLOUD_FILE_TRANSFER c{};
    std::strcpy(c.szFileName, "job.prn");
    unsigned char byte = 'x';
    c.llFileSize = 1;
    c.iTotalChunks = 1;
    c.iChunkSize = 1;
    c.pData = &byte;
    QString path;
    EXPECT_EQ(store->onChunk(c, path), kNotStored);
    EXPECT_FALSE(said.filter("cannot store job.prn in /proc/orlin-no-such-folder").isEmpty());
}
#endif

} // namespace
