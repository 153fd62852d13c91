// Menu items as both windows build them: help context and hint on the item,
// shortcuts shown in the menu but dispatched by the frame (which runs the
// menus' opening handlers first and honours disabled menus), and one bold
// default item per menu.
#pragma once

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QString>

inline constexpr const char *kHelpContext = "helpContext";

QAction *AddMenuItem(QMenu *menu, const QString &caption, int helpContext, const QString &hint = QString());
void SetMenuShortcut(QAction *item, const QKeySequence &key);
void SetDefaultItem(QMenu *menu, QAction *item);
bool IsDefaultItem(QAction *item);
