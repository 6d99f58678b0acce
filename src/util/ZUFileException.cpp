#include "util/ZUFileException.h"

ZUFileException::ZUFileException(QString name, QString reason)
    : m_name(std::move(name)), m_reason(std::move(reason)),
      m_what((m_name + QStringLiteral(": ") + m_reason).toUtf8())
{
}

ZUFileException ZUFileException::missingSource(const QString &sourcePath)
{
    return {QStringLiteral("非法的源文件路径"),
            QStringLiteral("源文件路径%1不存在，请检查源文件路径").arg(sourcePath)};
}

ZUFileException ZUFileException::missingContent()
{
    return {QStringLiteral("非法的文件内容"), QStringLiteral("文件内容不能为nil")};
}

ZUFileException ZUFileException::unsupportedContent(const QString &typeName)
{
    return {QStringLiteral("非法的文件内容"),
            QStringLiteral("文件类型%1异常，无法被处理。").arg(typeName)};
}
