#include "ToolProcess.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>

#include <cstring>

namespace tools {

QProcessEnvironment accountEnvironment(const QString& user, const QString& password)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("WYLN_CONF");
    env.insert("WYLN_USERNAME", user);
    env.insert("WYLN_PASSWORD", password);
    return env;
}

void useAccount(const QString& user, const QString& password)
{
    qunsetenv("WYLN_CONF");
    qputenv("WYLN_USERNAME", user.toUtf8());
    qputenv("WYLN_PASSWORD", password.toUtf8());
}

QJsonObject jsonLine(const QByteArray& line)
{
    const QByteArray t = line.trimmed();
    return t.startsWith('{') ? QJsonDocument::fromJson(t).object() : QJsonObject();
}

bool hasEvent(const std::vector<QJsonObject>& events, const QString& name, const QJsonObject& fields)
{
    for (const QJsonObject& e : events) {
        if (e.value("event").toString() != name)
            continue;
        bool all = true;
        for (auto it = fields.begin(); it != fields.end() && all; ++it)
            all = e.value(it.key()) == it.value();
        if (all)
            return true;
    }
    return false;
}

void JsonLines::feed(const QByteArray& bytes)
{
    partial_ += bytes;
    int end;
    while ((end = partial_.indexOf('\n')) >= 0) {
        const QJsonObject o = jsonLine(partial_.left(end));
        if (!o.isEmpty())
            events_.push_back(o);
        partial_.remove(0, end + 1);
    }
}

bool writeRandomFile(const QString& path, qint64 size, quint64 seed, QString& md5Hex, const QByteArray& head)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QCryptographicHash md5(QCryptographicHash::Md5);
    QByteArray b(1048576, Qt::Uninitialized);
    quint64 x = seed | 1;  // xorshift64 never leaves 0
    for (qint64 done = 0; done < size; done += b.size()) {
        for (int i = 0; i + 8 <= b.size(); i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::memcpy(b.data() + i, &x, 8);
        }
        if (done == 0)
            b.replace(0, head.size(), head);
        if (size - done < b.size())
            b.truncate(static_cast<int>(size - done));
        md5.addData(b);
        if (f.write(b) != b.size())
            return false;
    }
    md5Hex = QString::fromLatin1(md5.result().toHex());
    return true;
}

ResidentMemory residentMemory(qint64 pid)
{
    ResidentMemory m;
#ifdef __linux__
    QFile f(pid ? QString("/proc/%1/status").arg(pid) : QString("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            m.nowKiB = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        else if (line.startsWith("VmHWM:"))
            m.peakKiB = line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
#else
    (void)pid;
#endif
    return m;
}

} // namespace tools
