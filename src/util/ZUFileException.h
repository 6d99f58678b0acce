#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The one exception ZUFileManager throws, for input it cannot act on: a copy
// or move whose source does not exist, and content that is missing or of a
// kind that cannot be written. Every other failure is an answer (false, or
// an empty optional) with the error slot filled.
//
// name() and reason() are the texts callers show or log; what() is both, in
// UTF-8, for handlers that only know std::exception.
class ZUFileException : public std::exception
{
public:
    ZUFileException(QString name, QString reason);

    // "非法的源文件路径" / "源文件路径<path>不存在，请检查源文件路径"
    static ZUFileException missingSource(const QString &sourcePath);
    // "非法的文件内容" / "文件内容不能为nil"
    static ZUFileException missingContent();
    // "非法的文件内容" / "文件类型<type name>异常，无法被处理。"
    static ZUFileException unsupportedContent(const QString &typeName);

    const QString &name() const { return m_name; }
    const QString &reason() const { return m_reason; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_name;
    QString m_reason;
    QByteArray m_what;
};
