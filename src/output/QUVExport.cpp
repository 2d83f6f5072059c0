#include "output/QUVExport.h"

#include "app/MessageDlg.h"
#include "model/DModule.h"
#include "output/QUVView.h"
#include "output/QUVWriter.h"

#include <QDialog>
#include <QFileInfo>

namespace kova::app {

void ExportToQUV(TDM& dm, TFormQUV& preview, bool commandEnabled) {
    if (!commandEnabled) return;
    // A list left by an export that was not confirmed goes now.
    preview.Clear();
    const TTalmirMySQLTools& tools = dm.TalmirMySQLTools();
    TQUVWriter writer(dm.ABSQH1(), dm.ABSQH2(), [&tools](TABSQuery& query, const std::string& statement) {
        return tools.RunSQL(query, TTalmirMySQLTools::kOpen, statement);
    });
    for (std::string& line : writer.BuildLines()) preview.AddLine(std::move(line));

    if (preview.ShowModal() != QDialog::Accepted) return;

    TFileDialog& dialog = dm.Save();
    dialog.SetTitle(QString::fromUtf8(kQUVSaveTitle));
    dialog.SetFilter(QString::fromUtf8(kQUVSaveFilter));
    if (dialog.Execute()) {
        const QString fileName = QString::fromStdString(QUVFileName(dialog.FileName().toStdString()));
        dialog.SetFileName(fileName);
        WriteQUVFile(fileName.toStdString(), preview.Lines());
        (void)MessageDlg(QStringLiteral("QUV gespeichert auf:\r") + QFileInfo(fileName).absoluteFilePath(),
                         TMsgDlgType::Information, mbOK);
    }
    preview.Clear();
}

} // namespace kova::app
