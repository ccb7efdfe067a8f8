#pragma once
// Save the screen to a map file and load it back.
#include "common/context.h"

class MapFile {
public:
    explicit MapFile(Context &ctx);
    void btnSalvarClick(); // btnSalvar and Button1
    void btnCarregarClick(); // btnCarregar and Button2
    static FileDialogSpec dialogSpec(); // filter, default extension, initial folder

private:
    Context &ctx_;
};
