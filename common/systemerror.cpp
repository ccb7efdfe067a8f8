#include "common/systemerror.h"

#include <cerrno>

namespace systemerror {

QString text(int err)
{
    switch (err) {
    case ENOSPC: return QStringLiteral("disco cheio");
    case EDQUOT: return QStringLiteral("cota de disco esgotada");
    case EACCES:
    case EPERM: return QStringLiteral("permissão negada");
    case EROFS: return QStringLiteral("sistema de arquivos somente para leitura");
    case ENOENT: return QStringLiteral("arquivo ou pasta não encontrado");
    case ENOTDIR: return QStringLiteral("uma parte do caminho não é uma pasta");
    case EISDIR: return QStringLiteral("é uma pasta");
    case ENAMETOOLONG: return QStringLiteral("nome de arquivo longo demais");
    case EMFILE:
    case ENFILE: return QStringLiteral("arquivos abertos demais");
    case EIO: return QStringLiteral("erro de entrada e saída");
    case EEXIST: return QStringLiteral("o arquivo já existe");
    case EBUSY: return QStringLiteral("dispositivo ou recurso ocupado");
    case ENXIO:
    case ENODEV: return QStringLiteral("dispositivo não encontrado");
    case EFBIG: return QStringLiteral("arquivo grande demais");
    case ELOOP: return QStringLiteral("links simbólicos demais no caminho");
    case ENOMEM: return QStringLiteral("memória insuficiente");
    case EAGAIN: return QStringLiteral("recurso temporariamente indisponível");
    case EINVAL: return QStringLiteral("argumento inválido");
    case EPIPE: return QStringLiteral("a outra ponta fechou a conexão");
    case ENOTTY: return QStringLiteral("o dispositivo não é um terminal");
    case ETXTBSY: return QStringLiteral("arquivo em uso");
    case EXDEV: return QStringLiteral("não é possível mover entre sistemas de arquivos");
    default: return QStringLiteral("erro do sistema número %1").arg(err);
    }
}

} // namespace systemerror
