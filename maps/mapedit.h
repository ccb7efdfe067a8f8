#pragma once
// The map edit mode and its bulk change of both maps.
#include "common/context.h"

class MapEdit {
public:
    explicit MapEdit(Context &ctx);
    void btnAlterarMapasClick();
    void btnAlterarClick();
    void btnVoltarTelaPrincipalClick();

private:
    Context &ctx_;
};
