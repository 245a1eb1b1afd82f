#include "qt_rename_progress.h"

#include "app_identity.h"

#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>

using namespace Qt::StringLiterals;

QtRenameProgress::QtRenameProgress(QWidget* owner, std::chrono::milliseconds showAfter)
    : m_owner(owner)
    , m_showAfter(showAfter)
{
    m_running.start();
}

QtRenameProgress::~QtRenameProgress() = default;

void QtRenameProgress::show(Work work, int done, int total, Showing showing)
{
    if (!m_dialog && showing == Showing::InTime && m_running.elapsed() < m_showAfter.count())
        return;
    const bool appearing = !m_dialog;
    if (appearing) {
        m_dialog = std::make_unique<QProgressDialog>(m_owner);
        m_dialog->setWindowTitle(AppIdentity::windowTitle());
        m_dialog->setCancelButtonText(u"取消"_s);
        m_dialog->setWindowModality(Qt::WindowModal);
        // Set through a bar of its own: the dialog's value would let events through a second time
        // and show and hide the dialog by a timing of its own.
        m_bar = new QProgressBar;
        m_dialog->setBar(m_bar);
        // Its button and its close box cancel it; Escape rejects it, as it does any dialog.
        QObject::connect(m_dialog.get(), &QProgressDialog::canceled, m_dialog.get(), [this] { cancelled(); });
        QObject::connect(m_dialog.get(), &QDialog::rejected, m_dialog.get(), [this] { cancelled(); });
    }
    m_bar->setRange(0, total);
    m_bar->setValue(done);
    m_dialog->setLabelText(
        (work == Work::Checking ? u"正在检查新文件名: %1 / %2"_s : u"正在修改文件: %1 / %2"_s)
            .arg(done)
            .arg(total));
    if (appearing)
        m_dialog->show();
}

void QtRenameProgress::cancelled()
{
    requestStop();
    // The dialog hides, and the window it leaves active takes no input while the work stops; a box
    // over the dialog still waits for its answer, so it gets the keyboard back once the hiding is
    // done.
    for (QMessageBox* box : m_dialog->findChildren<QMessageBox*>(Qt::FindDirectChildrenOnly)) {
        if (box->isVisible()) {
            QMetaObject::invokeMethod(
                box,
                [box] {
                    box->raise();
                    box->activateWindow();
                },
                Qt::QueuedConnection);
        }
    }
}
