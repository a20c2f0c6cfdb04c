#include "db/BackupSeal.h"

#include "base/Error.h"
#include "base/HiClass.h"
#include "base/Platform.h"
#include "base/SafeFile.h"
#include "db/BackupFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <sodium.h>

namespace backupseal {

namespace {

    // After the database: the mark, the database's length (8 bytes, big-endian) and the keyed hash of both.
    constexpr char kMark[16] = { 'K', 'i', 'v', 'a', 'r', 'o', ' ', 's', 'e', 'a', 'l', ' ', 'v', '1', '\0', '\0' };
    constexpr qint64 kSealBytes = 16 + 8 + crypto_generichash_BYTES;
    constexpr qint64 kChunk = 1 << 20;

    QString keyPath(const QString& dataDir)
    {
        return dataDir + QStringLiteral("/backup-seal.key");
    }

    // A keyed hash over the database's bytes and then its length.
    class Hash
    {
    public:
        explicit Hash(const QByteArray& key)
        {
            if (sodium_init() < 0)
                throw KivaroError(QStringLiteral("无法计算备份的签名"));
            crypto_generichash_init(&m_state, reinterpret_cast<const unsigned char*>(key.constData()),
                size_t(key.size()), crypto_generichash_BYTES);
        }
        void add(const char* bytes, qint64 size)
        {
            crypto_generichash_update(&m_state, reinterpret_cast<const unsigned char*>(bytes), size_t(size));
        }
        QByteArray finish(qint64 length)
        {
            char bigEndian[8];
            qToBigEndian(quint64(length), bigEndian);
            add(bigEndian, 8);
            QByteArray mac(crypto_generichash_BYTES, '\0');
            crypto_generichash_final(&m_state, reinterpret_cast<unsigned char*>(mac.data()), size_t(mac.size()));
            return mac;
        }

    private:
        crypto_generichash_state m_state;
    };

    // The database's length and the hash the seal at the end of file records, when there is one.
    std::optional<std::pair<qint64, QByteArray>> readSeal(QFile& file)
    {
        const qint64 size = file.size();
        if (size < kSealBytes + 512 || !file.seek(size - kSealBytes))
            return std::nullopt;
        const QByteArray seal = file.read(kSealBytes);
        if (seal.size() != kSealBytes || !seal.startsWith(QByteArrayView(kMark, sizeof kMark)))
            return std::nullopt;
        const qint64 length = qint64(qFromBigEndian<quint64>(seal.constData() + 16));
        if (length != size - kSealBytes)
            return std::nullopt;
        return std::pair { length, seal.mid(24) };
    }

    // Reads the first length bytes of file through the hash, handing each piece to take; false on a read failure.
    template <typename Take>
    bool hashed(QFile& file, qint64 length, Hash& hash, const BackupProgress& progress, Take&& take)
    {
        if (!file.seek(0))
            return false;
        QByteArray buffer(kChunk, Qt::Uninitialized);
        for (qint64 done = 0; done < length;) {
            const qint64 read = file.read(buffer.data(), qMin(kChunk, length - done));
            if (read <= 0)
                return false;
            hash.add(buffer.constData(), read);
            take(buffer.constData(), read);
            done += read;
            if (progress)
                progress(done, length);
        }
        return true;
    }

} // namespace

QByteArray key(const LedgerLocation& ledger, bool make)
{
    const QString dataDir = ledger.isServer() ? THi::GetDataDir(QString()) : ledger.dataDir();
    QFile file(keyPath(dataDir));
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.read(crypto_generichash_KEYBYTES + 1);
        return bytes.size() == crypto_generichash_KEYBYTES ? bytes : QByteArray();
    }
    if (!make || !QFileInfo(dataDir).isDir() || sodium_init() < 0)
        return {};
    QByteArray made(crypto_generichash_KEYBYTES, '\0');
    randombytes_buf(made.data(), size_t(made.size()));
    try {
        SafeFile written(keyPath(dataDir), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        written.write(made);
        written.commit();
    } catch (const KivaroError&) {
        return {};
    }
    return made;
}

void seal(const QString& path, const QByteArray& key)
{
    QFile file(path);
    if (key.isEmpty() || !file.open(QIODevice::ReadWrite))
        return;
    // Only a file whose header gives the database's length: the engine then reads no further.
    const std::optional<qint64> found = backupfiles::headerLength(file.read(100));
    if (!found || *found != file.size())
        return;
    const qint64 length = *found;
    Hash hash(key);
    if (!hashed(file, length, hash, {}, [](const char*, qint64) {}))
        throw KivaroError(
            QStringLiteral("无法读取备份“%1”：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    QByteArray seal(kMark, sizeof kMark);
    char bigEndian[8];
    qToBigEndian(quint64(length), bigEndian);
    seal.append(bigEndian, 8);
    seal.append(hash.finish(length));
    if (!file.seek(length) || file.write(seal) != seal.size() || !file.flush())
        throw KivaroError(
            QStringLiteral("无法写入备份“%1”：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
}

namespace {

    // The database's length when the file's seal holds for key, reading the database through take on the way.
    template <typename Take>
    std::optional<qint64> verified(QFile& file, const QByteArray& key, const BackupProgress& progress, Take&& take)
    {
        const auto found = readSeal(file);
        if (!found)
            return std::nullopt;
        Hash hash(key);
        if (!hashed(file, found->first, hash, progress, take))
            return std::nullopt;
        const QByteArray mac = hash.finish(found->first);
        if (sodium_memcmp(mac.constData(), found->second.constData(), crypto_generichash_BYTES) != 0)
            return std::nullopt;
        return found->first;
    }

} // namespace

std::optional<qint64> sealedLength(const QString& path, const QByteArray& key, const BackupProgress& progress)
{
    QFile file(path);
    if (key.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return verified(file, key, progress, [](const char*, qint64) {});
}

bool copySealed(const QString& path, const QString& target, const QByteArray& key, const BackupProgress& progress)
{
    QFile file(path);
    if (key.isEmpty() || !file.open(QIODevice::ReadOnly) || !readSeal(file))
        return false;
    // Synced and given its name only when the seal holds.
    SafeFile copy(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (!verified(
            file, key, progress, [&copy](const char* bytes, qint64 size) { copy.write(QByteArrayView(bytes, size)); }))
        return false;
    copy.commit();
    return true;
}

} // namespace backupseal
