#pragma once

#include "platform/FileBrowser.h"

#include <QList>

namespace platform
{

// A FileBrowser for tests: records every request, in order, and answers
// setAnswer()'s value (true unless set) without asking the desktop.
//
// Main thread only; see FileBrowser.
class RecordingFileBrowser final : public FileBrowser
{
public:
    enum class Kind { OpenFolder = 1, ShowFolder };
    struct Request {
        Kind kind;
        QString path;
        bool operator==(const Request &) const = default;
    };

    bool openFolder(const QString &path) override { return record(Kind::OpenFolder, path); }
    bool showFolder(const QString &path) override { return record(Kind::ShowFolder, path); }

    void setAnswer(bool answer) { m_answer = answer; }
    const QList<Request> &requests() const { return m_requests; }

private:
    bool record(Kind kind, const QString &path)
    {
        m_requests.append({kind, path});
        return m_answer;
    }

    QList<Request> m_requests;
    bool m_answer = true;
};

} // namespace platform
