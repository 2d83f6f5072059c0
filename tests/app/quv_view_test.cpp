// The export list preview: its list box's horizontal scroll range, the column rulers and the
// window's controls.
#include "output/HSListBox.h"
#include "output/QUVView.h"
#include "output/QUVWriter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>
#include <functional>

namespace kova::app::test {
namespace {

class HSListBoxRange : public ::testing::Test {
protected:
    void SetUp() override {
        list_.resize(120, 100);
        list_.show();
    }
    [[nodiscard]] int Width(int characters) const { return list_.LineWidth(QString(characters, QChar(u'x'))); }
    [[nodiscard]] int ScrollMaximum() const { return list_.horizontalScrollBar()->maximum(); }
    [[nodiscard]] int ExpectedMaximum() const { return std::max(0, list_.HorizontalExtent() - list_.viewport()->width()); }

    THSListBox list_;
};

TEST_F(HSListBoxRange, LineWidthIsTextPlusOneAverageCharacter) {
    const QFontMetrics metrics(list_.font());
    EXPECT_EQ(list_.LineWidth(QStringLiteral("abc")),
              metrics.horizontalAdvance(QStringLiteral("abc")) + metrics.averageCharWidth());
    EXPECT_EQ(list_.HorizontalExtent(), 0);
    EXPECT_EQ(ScrollMaximum(), 0);
}

TEST_F(HSListBoxRange, FollowsAddInsertDeleteAndClear) {
    struct Step {
        const char* what;
        std::function<void(THSListBox&)> act;
        int widestCharacters;  // of the lines left; 0 for none
    };
    auto text = [](int n) { return QString(n, QChar(u'x')); };
    const std::vector<Step> steps = {
        {"add", [&](THSListBox& l) { l.addItem(text(40)); }, 40},
        {"add shorter", [&](THSListBox& l) { l.addItem(text(10)); }, 40},
        {"insert wider", [&](THSListBox& l) { l.insertItem(0, text(90)); }, 90},
        {"add second widest", [&](THSListBox& l) { l.addItem(text(70)); }, 90},
        {"delete a shorter one", [&](THSListBox& l) { delete l.takeItem(2); }, 90},      // the 10
        {"delete the widest", [&](THSListBox& l) { delete l.takeItem(0); }, 70},         // the 90
        {"delete the widest again", [&](THSListBox& l) { delete l.takeItem(1); }, 40},   // the 70
        {"delete the last", [&](THSListBox& l) { delete l.takeItem(0); }, 0},
        {"add after empty", [&](THSListBox& l) { l.addItems({text(5), text(60)}); }, 60},
        {"clear", [&](THSListBox& l) { l.clear(); }, 0},
        {"add after clear", [&](THSListBox& l) { l.addItem(text(3)); }, 3},
    };
    for (const Step& step : steps) {
        step.act(list_);
        EXPECT_EQ(list_.HorizontalExtent(), step.widestCharacters == 0 ? 0 : Width(step.widestCharacters)) << step.what;
        EXPECT_EQ(ScrollMaximum(), ExpectedMaximum()) << step.what;
    }
}

TEST_F(HSListBoxRange, ScrollRangeReachesTheEndOfTheWidestLine) {
    list_.addItem(QString(200, QChar(u'x')));
    ASSERT_GT(Width(200), list_.viewport()->width());
    EXPECT_EQ(ScrollMaximum(), Width(200) - list_.viewport()->width());
    list_.resize(400, 100);  // a wider list needs less scrolling
    QApplication::processEvents();  // the view lays itself out again after the resize
    EXPECT_EQ(ScrollMaximum(), std::max(0, Width(200) - list_.viewport()->width()));
}

TEST(FormQUV, RulersNumberTheColumns) {
    const QString tens = TFormQUV::TensRuler();
    const QString units = TFormQUV::UnitsRuler();
    ASSERT_EQ(tens.size(), 250);
    ASSERT_EQ(units.size(), 250);
    EXPECT_EQ(units.left(20), QStringLiteral("12345678901234567890"));
    EXPECT_EQ(tens.left(20), QStringLiteral("00000000011111111112"));
    EXPECT_EQ(tens.mid(89, 10), QStringLiteral("9999999999"));      // columns 90 to 99
    EXPECT_EQ(tens.mid(99, 11), QStringLiteral("00000000001"));     // columns 100 to 110
    EXPECT_EQ(tens.mid(184, 1) + units.mid(184, 1), QStringLiteral("85"));  // column 185
    EXPECT_EQ(tens.right(1) + units.right(1), QStringLiteral("50"));         // column 250
}

TEST(FormQUV, ControlsFontsAndLines) {
    TFormQUV form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("QUV- Exportliste"));
    EXPECT_EQ(form.findChild<QPushButton*>(QStringLiteral("BBOk"))->text(), QStringLiteral("OK"));
    EXPECT_EQ(form.findChild<QPushButton*>(QStringLiteral("BBAbort"))->text(), QStringLiteral("Abbrechen"));
    ASSERT_NE(form.findChild<THSListBox*>(QStringLiteral("HSLBQUV")), nullptr);
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("Label2"))->text(), TFormQUV::TensRuler());
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("Label1"))->text(), TFormQUV::UnitsRuler());
    // One fixed-pitch font for rulers and list.
    EXPECT_TRUE(QFontInfo(form.HSLBQUV().font()).fixedPitch());
    EXPECT_EQ(form.Label1().font(), form.HSLBQUV().font());
    EXPECT_EQ(form.Label2().font(), form.HSLBQUV().font());
    EXPECT_EQ(form.HSLBQUV().font().pointSize(), 8);
    // The tens row above the units row, both above the list.
    form.show();
    EXPECT_LT(form.Label2().geometry().top(), form.Label1().geometry().top());
    EXPECT_LE(form.Label1().geometry().bottom(), form.HSLBQUV().geometry().top());

    const std::string bytes = "M\x81ller";
    form.AddLine(bytes);
    form.AddLine("Zwei");
    EXPECT_EQ(form.Lines(), (std::vector<std::string>{bytes, "Zwei"}));  // the file's bytes
    EXPECT_EQ(form.HSLBQUV().item(0)->text(), QStringLiteral("Müller"));  // shown as letters
    EXPECT_EQ(form.HSLBQUV().visualItemRect(form.HSLBQUV().item(1)).height(), THSListBox::kItemHeight);
    form.Clear();
    EXPECT_TRUE(form.Lines().empty());
    EXPECT_EQ(form.HSLBQUV().count(), 0);
    EXPECT_EQ(form.HSLBQUV().HorizontalExtent(), 0);
}

TEST(FormQUV, RulerColumnsStandAboveTheLineColumns) {
    TFormQUV form;
    form.show();
    TQUVRegistration r;
    r.name = "Abc";
    form.AddLine(TQUVLine::Build(r));
    // Every character takes the same width, so equal starts keep every column in line.
    const QFontMetrics metrics(form.HSLBQUV().font());
    for (const QString& character : {QStringLiteral("M"), QStringLiteral("i"), QStringLiteral("ü"), QStringLiteral(" ")}) {
        EXPECT_EQ(metrics.horizontalAdvance(character), metrics.horizontalAdvance(QStringLiteral("0"))) << character.toStdString();
    }
    // Where column 1 begins, in form coordinates, in the list and in a ruler.
    const int listX = form.HSLBQUV().viewport()->mapTo(&form, QPoint(0, 0)).x() + THSListBox::kTextIndent;
    const QLabel& ruler = form.Label1();
    const int rulerX = ruler.mapTo(&form, QPoint(0, 0)).x() + ruler.contentsRect().left() + ruler.margin();
    EXPECT_EQ(listX, rulerX);
    // Scrolling the list sideways leaves the rulers where they are.
    const QPoint before = ruler.mapTo(&form, QPoint(0, 0));
    form.HSLBQUV().horizontalScrollBar()->setValue(form.HSLBQUV().horizontalScrollBar()->maximum());
    EXPECT_EQ(ruler.mapTo(&form, QPoint(0, 0)), before);
    (void)form.grab().save(QStringLiteral("/tmp/FormQUV.png"));
}

} // namespace
} // namespace kova::app::test
