// ApplyReportListLook: see report_list.h.
#include "ui/information/report_list.h"

#include <QHeaderView>
#include <QPalette>

void ApplyReportListLook(QTreeView& view) {
  QPalette colours = view.palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    colours.setColor(group, QPalette::Base, kListBackColour);
    colours.setColor(group, QPalette::AlternateBase, kListBackColour);
    colours.setColor(group, QPalette::Text, kListTextColour);
  }
  // The selection stays visible when focus goes elsewhere.
  colours.setColor(QPalette::Inactive, QPalette::Highlight,
                   colours.color(QPalette::Active, QPalette::Highlight));
  colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   colours.color(QPalette::Active, QPalette::HighlightedText));
  view.setPalette(colours);
  view.setAutoFillBackground(true);
  view.setRootIsDecorated(false);
  view.setItemsExpandable(false);
  view.setUniformRowHeights(true);
  view.setAllColumnsShowFocus(true);
  view.setSelectionBehavior(QAbstractItemView::SelectRows);
  view.setSelectionMode(QAbstractItemView::SingleSelection);
  view.setEditTriggers(QAbstractItemView::NoEditTriggers);
  view.setTextElideMode(Qt::ElideNone);
  view.header()->setMinimumSectionSize(1);  // the narrow first columns keep their widths
  view.header()->setStretchLastSection(false);
  view.header()->setSectionsMovable(false);
}
