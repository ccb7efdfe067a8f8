#pragma once
// System error numbers in the user's language. Every message of Velto's own that
// carries a system error takes its text from here, also the sentences that follow
// the map file's and the serial port's own fixed error texts.
#include <QString>

#include <cerrno>
#include <exception>
#include <new>

namespace systemerror {

// "disco cheio" for ENOSPC, "permissão negada" for EACCES, ...; an error without a
// text of its own gives "erro do sistema número N".
// Inline: the serial port component, which stands apart from the core, uses it too.
inline QString text(int err)
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

// The text of a failure for the user: the message of Velto's own errors as it is; the
// runtime's failure to get memory (whose own text is "std::bad_alloc") in Portuguese.
inline QString failureText(const std::exception &e)
{
    if (dynamic_cast<const std::bad_alloc *>(&e))
        return QStringLiteral("Memória insuficiente: a última ação não terminou. Feche outros programas ou use um "
                              "arquivo menor.");
    return QString::fromUtf8(e.what());
}

} // namespace systemerror
