// The arithmetic of the result browser, apart from any painting: where the cells of the
// thumbnail grid lie, how big a picture is drawn in its cell, how a file name is shortened
// under it, where the address pop-up goes, and when the four paging commands are enabled.
// The widgets only draw and place what these functions compute, so the tests check them
// without a screen.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <string>

namespace quarry {

inline constexpr int kCellSize = 160;           // width and height of a grid cell
inline constexpr int kCellPadding = 10;         // between a picture and its cell's edge
inline constexpr int kPictureAreaHeight = 150;  // the highest a picture may be, name included
inline constexpr int kNameHeight = 20;          // room kept for the name under a tall picture
inline constexpr int kFrameInset = 5;           // the cell frame lies this far inside the cell
inline constexpr int kNameGap = 2;              // between a picture's lower edge and its name
inline constexpr int kNameShownBytes = 20;      // a long name shows this many bytes and "..."
inline constexpr int kNameMaxBytes = 24;        // names up to this length are shown whole
inline constexpr QSize kLabelSize{300, 70};     // the address pop-up
inline constexpr int kLabelOffset = 2;          // the pop-up's distance from the pointer
inline constexpr int kLabelFlipHeight = 80;     // room below the pointer the pop-up needs

// The size a picture of `picture` pixels is drawn at, keeping its proportions: a picture
// wider than high gets the cell width less both paddings (140), any other the cell height
// less both paddings and the name's room (120). An empty size (no picture) counts as a full
// cell. Neither side is ever below one pixel.
QSize ThumbnailDrawSize(QSize picture);

// The columns of a grid `width` pixels wide: as many whole cells as fit, at least one.
int ColumnCount(int width);

// The rectangle of cell `index` (counted row by row from 0) of a grid of `columns` columns, in
// grid coordinates.
QRect CellRect(int index, int columns);

// The picture's rectangle inside the cell at `cell`: `drawn` centred both ways.
QRect PictureRect(const QRect& cell, QSize drawn);

// The cell index under `point` (grid coordinates, scrolling already added), or -1 when the
// point lies outside the `columns` columns or past the last of `cellCount` cells.
int CellAt(QPoint point, int cellCount, int columns);

// The rows `cellCount` cells fill, `columns` to a row.
int RowCount(int cellCount, int columns);

// The last part of `path`, after the last '/' or '\'.
std::string FileNamePart(const std::string& path);

// The name as shown under a thumbnail: a name longer than 24 bytes becomes its first 20 bytes
// followed by "...", the cut moved back to the start of a UTF-8 character it would split.
std::string ShortFileName(const std::string& name);

// Where the 300 x 70 pop-up goes for a pointer at `pointer` in an area of `area`: 2 pixels
// right of and below it; 300 pixels left of it when less than 300 pixels remain to the right,
// and 80 pixels above it when less than 80 remain below.
QPoint LabelPosition(QPoint pointer, QSize area);

// Where a face of the result browser stands: its current page and its page count, both
// counted from 1 (0 before anything was loaded, and a page count of 0 for an empty table).
struct PagePosition {
  int current = 0;
  int count = 0;
};

// The enabling rules of the paging commands.
inline bool CanNextPage(PagePosition p) { return p.current >= 1 && p.current < p.count; }
inline bool CanPreviousPage(PagePosition p) { return p.current >= 2; }
inline bool CanFirstPage(PagePosition p) { return p.current > 1 && p.count > 1; }
inline bool CanLastPage(PagePosition p) { return p.current > 0 && p.current < p.count; }

// The page count for `records` rows, 30 a page, rounded up.
int PageCountFor(long long records);

}  // namespace quarry
