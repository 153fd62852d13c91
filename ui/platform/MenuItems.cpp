#include "ui/platform/MenuItems.h"

namespace {
const char *kDefaultItem = "defaultItem";
}

QAction *AddMenuItem(QMenu *menu, const QString &caption, int helpContext, const QString &hint)
{
    QAction *a = menu->addAction(caption);
    a->setProperty(kHelpContext, helpContext);
    if (!hint.isEmpty()) {
        a->setStatusTip(hint);
        a->setToolTip(hint);
    }
    return a;
}

void SetMenuShortcut(QAction *item, const QKeySequence &key)
{
    item->setShortcutContext(Qt::WidgetShortcut);
    item->setShortcut(key);
}

void SetDefaultItem(QMenu *menu, QAction *item)
{
    for (QAction *a : menu->actions()) {
        const bool on = a == item;
        a->setProperty(kDefaultItem, on);
        QFont f = a->font();
        f.setBold(on);
        a->setFont(f);
    }
}

bool IsDefaultItem(QAction *item) { return item->property(kDefaultItem).toBool(); }
