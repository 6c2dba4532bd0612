#include "platform/desktop.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QUrl>
#include <QRect>
#include <QScreen>

#include <optional>

namespace {

std::optional<DesktopFacts>& testFacts() {
    static std::optional<DesktopFacts> facts;
    return facts;
}

// The family the font system actually chose (a generic name such as
// "monospace" resolves to a real family).
std::string familyOf(const QFont& font) {
    QString family = QFontInfo(font).family();
    if (family.isEmpty()) family = font.family();
    return family.toStdString();
}

int pixelSizeOf(const QFont& font) {
    int size = font.pixelSize();
    if (size <= 0) size = QFontInfo(font).pixelSize();
    return size > 0 ? size : 12;
}

}  // namespace

uint32_t displayIdForScreenName(const std::string& name) {
    uint32_t hash = 0x811C9DC5u;
    for (unsigned char c : name) {
        hash ^= c;
        hash *= 0x01000193u;
    }
    hash &= 0x7FFFFFFFu;
    return hash ? hash : 1u;
}

DesktopFacts desktopFacts() {
    if (testFacts()) return *testFacts();

    DesktopFacts facts;
    facts.width = 1024;
    facts.height = 768;
    facts.depth = 24;
    facts.displayId = displayIdForScreenName("");
    facts.fontName = "DejaVu Sans";
    facts.fontHeight = 12;
    facts.fixedFontName = "DejaVu Sans Mono";
    facts.fixedFontHeight = 12;

    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return facts;

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect geometry = screen->geometry();
        if (geometry.width() > 0 && geometry.height() > 0) {
            facts.width = geometry.width();
            facts.height = geometry.height();
        }
        if (screen->depth() > 0) facts.depth = screen->depth();
        facts.displayId = displayIdForScreenName(screen->name().toStdString());
    }
    QFont font = QGuiApplication::font();
    if (std::string family = familyOf(font); !family.empty()) facts.fontName = family;
    facts.fontHeight = pixelSizeOf(font);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (std::string family = familyOf(fixed); !family.empty()) facts.fixedFontName = family;
    facts.fixedFontHeight = pixelSizeOf(fixed);
    return facts;
}

void setDesktopFactsForTesting(const DesktopFacts* facts) {
    if (facts) {
        testFacts() = *facts;
    } else {
        testFacts().reset();
    }
}

namespace {
std::function<void(const std::string&)> urlOpener;
}

void openDesktopUrl(const std::string& url) {
    if (urlOpener) {
        urlOpener(url);
        return;
    }
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size()))));
}

void setDesktopUrlOpenerForTesting(std::function<void(const std::string&)> opener) {
    urlOpener = std::move(opener);
}
