#include "outputfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

OutputFile::OutputFile(const QString& fileName) : m_fileName(fileName) {}

OutputFile::~OutputFile() = default;

bool OutputFile::open(QString* error)
{
    // QSaveFile would rename its temporary file over a device node such as /dev/full.
    const QFileInfo info(m_fileName);
    if (info.exists() && !info.isFile())
        m_file = std::make_unique<QFile>(m_fileName);
    else
        m_file = std::make_unique<QSaveFile>(m_fileName);
    if (m_file->open(QIODevice::WriteOnly))
        return true;
    *error = QStringLiteral("cannot write %1: %2").arg(m_fileName, m_file->errorString());
    m_file.reset();
    return false;
}

bool OutputFile::write(const QByteArray& bytes, QString* error)
{
    if (!m_file && !open(error))
        return false;
    // flush() before commit(): commit() does not notice a failing last flush of buffered
    // bytes and would put a cut file in place of the old one.
    bool written = m_file->write(bytes) == bytes.size() && m_file->flush();
    if (auto* saveFile = qobject_cast<QSaveFile*>(m_file.get()))
        written = written && saveFile->commit();
    else if (written)
        m_file->close();
    if (!written) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_fileName, m_file->errorString());
        cancel();
        return false;
    }
    m_file.reset();
    return true;
}

void OutputFile::cancel()
{
    if (auto* saveFile = qobject_cast<QSaveFile*>(m_file.get()))
        saveFile->cancelWriting();
    m_file.reset();
}
