// The uninstaller's window.
#include "uninstaller/program/UninstallForm.h"

#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include "host/AnsiCodec.h"
#include "host/UIServices.h"
#include "host/ui/Application.h"

namespace ostra {

namespace {

QString FromAnsi(const std::string& text) { return QString::fromStdString(AnsiToUtf8(text)); }

// A label's text with its "&" accelerator shown as Windows shows it: the next character
// underlined ("&&" stands for "&").
QString AcceleratorText(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == '&' && i + 1 < text.size()) {
            c = text[++i];
            out += c == '&' ? QStringLiteral("&amp;") : QStringLiteral("<u>") + QString(c).toHtmlEscaped() + QStringLiteral("</u>");
        } else {
            out += QString(c).toHtmlEscaped();
        }
    }
    return out;
}

// The window's artwork: a deep blue to teal gradient with a few light arcs.
QPixmap ThemeArtwork() {
    QPixmap pixmap(121, 265);
    QPainter painter(&pixmap);
    QLinearGradient gradient(0, 0, 0, 265);
    gradient.setColorAt(0, QColor(18, 42, 96));
    gradient.setColorAt(1, QColor(22, 128, 140));
    painter.fillRect(pixmap.rect(), gradient);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 4; ++i) {
        painter.setPen(QPen(QColor(255, 255, 255, 40 + 20 * i), 2));
        painter.drawEllipse(QPoint(20, 230), 40 + 28 * i, 40 + 28 * i);
    }
    return pixmap;
}

template <class T>
T* Place(QWidget* parent, const char* name, int x, int y, int width, int height) {
    T* widget = new T(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, width, height);
    return widget;
}

}  // namespace

TForm1::TForm1(const std::vector<std::string>& Params, const std::string& ProgramPath) {
    setObjectName("Form1");
    setWindowTitle("Uninstall program");
    setFixedSize(469, 328);
    QFont font("Arial");
    font.setPixelSize(11);
    setFont(font);

    Panel1 = Place<QFrame>(this, "Panel1", 0, 0, 469, 328);
    ThemeBitmap = Place<QLabel>(Panel1, "ThemeBitmap", 8, 8, 121, 265);
    ThemeBitmap->setScaledContents(true);
    ThemeBitmap->setPixmap(ThemeArtwork());
    Bevel1 = Place<QFrame>(Panel1, "Bevel1", 0, 271, 469, 2);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Label1 = Place<QLabel>(Panel1, "Label1", 144, 16, 289, 40);
    Label1->setWordWrap(true);
    Label1->setTextFormat(Qt::RichText);
    Label1->setText(AcceleratorText("To remove the software from your computer, click the &Start button below."));

    struct Row {
        QCheckBox** Box;
        const char* BoxName;
        QLabel** Label;
        const char* LabelName;
        const char* Caption;
        int Y;
    };
    const Row rows[] = {
        {&AliasesCB, "AliasesCB", &lblAliases, "lblAliases", "Aliases", 72},
        {&ActiveXCB, "ActiveXCB", &lblActiveX, "lblActiveX", "ActiveX/OCX components", 102},
        {&FilesCB, "FilesCB", &lblFiles, "lblFiles", "Files", 133},
        {&INIFilesCB, "INIFilesCB", &Label2, "Label2", "INI file entries", 163},
        {&BDECB, "BDECB", &Label4, "Label4", "BDE", 192},
        {&RegistryCB, "RegistryCB", &Label3, "Label3", "Registry entries", 218},
    };
    for (const Row& row : rows) {
        *row.Box = Place<QCheckBox>(Panel1, row.BoxName, 144, row.Y, 17, 17);
        (*row.Box)->setEnabled(false);
        (*row.Box)->hide();
        *row.Label = Place<QLabel>(Panel1, row.LabelName, 168, row.Y, 289, 17);
        (*row.Label)->setText(row.Caption);
    }
    ProgressBar1 = Place<QProgressBar>(Panel1, "ProgressBar1", 144, 248, 313, 16);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->hide();
    StartBtn = Place<QPushButton>(Panel1, "StartBtn", 296, 288, 75, 25);
    StartBtn->setText("&Start");
    CloseBtn = Place<QPushButton>(Panel1, "CloseBtn", 384, 288, 75, 25);
    CloseBtn->setText("&Close");
    QObject::connect(StartBtn, &QPushButton::clicked, [this] { StartBtnClick(); });
    QObject::connect(CloseBtn, &QPushButton::clicked, [this] { CloseBtnClick(); });

    if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->availableGeometry().center() - rect().center());
    FormCreate(Params, ProgramPath);
}

TForm1::~TForm1() = default;

void TForm1::FormCreate(const std::vector<std::string>& Params, const std::string& ProgramPath) {
    CallHandled([&] {
        try {
            FUninstaller = std::make_unique<TUninstaller>(Params, ProgramPath, this);
        } catch (...) {
            StartBtn->setEnabled(false);
            throw;
        }
        setWindowTitle("Remove " + FromAnsi(FUninstaller->ProductName()));
    });
}

void TForm1::StartBtnClick() {
    if (!FUninstaller) return;
    StartBtn->setEnabled(false);
    CallHandled([this] {
        FUninstaller->Run();
        FTerminated = true;
        TerminateApplication();
    });
}

void TForm1::CloseBtnClick() { close(); }

QCheckBox* TForm1::StepBox(TRemovalStep Step) const {
    QCheckBox* const boxes[] = {AliasesCB, ActiveXCB, FilesCB, INIFilesCB, BDECB, RegistryCB};
    return boxes[Step];
}

void TForm1::StepStarted(TRemovalStep Step) {
    StepBox(Step)->show();
    repaint();
}

void TForm1::StepDone(TRemovalStep Step) { StepBox(Step)->setChecked(true); }

void TForm1::ShowProgress(bool Visible) {
    ProgressBar1->setValue(0);
    ProgressBar1->setVisible(Visible);
}

void TForm1::SetProgress(int Percent) {
    ProgressBar1->setValue(Percent);
    ProgressBar1->repaint();
}

void TForm1::Repaint() { repaint(); }

}  // namespace ostra
