#pragma once
// A file cu-tavik-cli writes its result to, whole or not at all: a regular file (or a new
// one) is replaced only once every byte has reached the disk, so a full disk leaves an
// existing file as it was; a device or pipe named on purpose (/dev/stdout) is written
// straight, never replaced by a regular file.
#include <QString>

#include <memory>

class QFileDevice;

class OutputFile
{
public:
    explicit OutputFile(const QString& fileName);
    ~OutputFile();

    // Opens the file before the work whose result it takes, so that a place that cannot be
    // written is found first; false with the reason in error.
    bool open(QString* error);
    // Writes the bytes and finishes the file; false with the reason in error, and a regular
    // file left as it was.
    bool write(const QByteArray& bytes, QString* error);
    // Leaves a regular file as it was (nothing to undo on a device).
    void cancel();

private:
    QString m_fileName;
    std::unique_ptr<QFileDevice> m_file;
};
