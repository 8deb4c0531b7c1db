// The whole picture of the progress window, composed off-screen at every erase from the images
// the window decoded once.
#include <algorithm>
#include <string>

#include "app/KvoLauncherDlg.h"
#include "framework/Exceptions.h"
#include "skin/BitImage.h"
#include "skin/ProgressFrame.h"

namespace {

constexpr int kBufferBitsPerPixel = 32;
constexpr int kOverallBarTop = 44;
constexpr int kFileBarTop = 62;
constexpr RECT kStatusTextRect{0, 80, 320, 92};   // left is the bars' left edge
constexpr int kDotsOffsetX = 51;                  // the marks follow "正在下载 "
constexpr int kDotsOffsetY = 5;                   // and sit on its base line
constexpr int kDotsRight = 371;
constexpr COLORREF kTextColour = RGB(0, 0, 0);
constexpr UINT kTextFormat = DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS;

const char kDownloadingText[] = "正在下载 ";
const char kRetryingText[] = "正在重试 ";  // as wide as the text it stands in for: the marks stay put
const char kCompleteText[] = "下载完成";
const char kEllipsisMark[] = "…";

/// One bar: the empty state whole, then the filled state cut (not stretched) to `filled` pixels.
void DrawBar(HDC dc, CPngImageSB& strip, int left, int top, int width, int halfHeight, int filled)
{
    width = std::min(width, strip.GetWidth());
    filled = std::min(filled, width);
    strip.Draw(dc, left, top, width, halfHeight, 0, 0, width, halfHeight);
    strip.Draw(dc, left, top, filled, halfHeight, 0, halfHeight, filled, halfHeight);
}

void DrawStatus(HDC dc, const std::string& text, RECT rect)
{
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect, kTextFormat);
}

}  // namespace

BOOL CKvoLauncherDlg::OnEraseBkgnd(HDC dc)
{
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;

    // Destroyed in reverse: the strip, the background, the buffer's context, the buffer.
    CBitImage buffer;
    if (!buffer.Create(width, height, kBufferBitsPerPixel, 0))
        return FALSE;  // without a buffer there is nothing to show
    kvo::CImageDC bufferDc(buffer);
    const HDC memory = bufferDc.dc();
    if (!memory)
        throw kvo::CMemoryException();
    ::SetBkMode(memory, TRANSPARENT);
    // The buffer's context goes before the font: the font is put back out of it first.
    const kvo::SelectObjectGuard font(memory, m_font ? m_font.get() : ::GetCurrentObject(memory, OBJ_FONT));

    if (!m_background.IsNull())
        m_background.Draw(memory, 0, 0, m_background.GetWidth(), m_background.GetHeight(), 0, 0,
                          m_background.GetWidth(), m_background.GetHeight());
    const int left = BarLeft(m_background.GetWidth(), m_strip.GetWidth());

    const CUpdateEngine& engine = *m_engine;
    ProgressCounters counters;
    counters.fileCount = engine.m_nFileCount.load(std::memory_order_relaxed);
    counters.filesLeft = engine.m_nFilesLeft.load(std::memory_order_relaxed);
    counters.curFileSize = engine.m_nCurFileSize.load(std::memory_order_relaxed);
    counters.curFileDone = engine.m_nCurFileDone.load(std::memory_order_relaxed);
    const ProgressFrame frame = ComputeProgressFrame(counters, m_nScaleWidth);
    if (!frame.drawn)
        return FALSE;

    if (!m_strip.IsNull()) {
        DrawBar(memory, m_strip, left, kOverallBarTop, m_nScaleWidth, m_nScaleHalfHeight, frame.overallWidth);
        DrawBar(memory, m_strip, left, kFileBarTop, m_nScaleWidth, m_nScaleHalfHeight, frame.fileWidth);
    }

    ::SetTextColor(memory, kTextColour);
    RECT textRect = kStatusTextRect;
    textRect.left = left;
    if (frame.text == StatusText::Complete) {
        DrawStatus(memory, kCompleteText, textRect);
    } else {
        DrawStatus(memory, engine.m_bRetrying ? kRetryingText : kDownloadingText, textRect);
        RECT dotsRect{left + kDotsOffsetX, textRect.top + kDotsOffsetY, kDotsRight, textRect.bottom};
        std::string dots;
        for (int i = 0; i < m_nDotCount; ++i)
            dots += kEllipsisMark;
        DrawStatus(memory, dots, dotsRect);
        m_nDotCount = NextDotCount(m_nDotCount);
    }

    ::BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    return TRUE;
}
