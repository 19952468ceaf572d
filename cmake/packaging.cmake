# What `cmake --install` puts where, and the three Debian packages that
# `make package` (cpack) builds from one build: the desktop program, the
# command-line tool and the network service. A headless server installs the
# service without Qt Widgets; a desktop gets no network service.
include(GNUInstallDirs)

set(LETREIRO_DEBIAN ${PROJECT_SOURCE_DIR}/data/debian)
set(LETREIRO_UNIT_DIR /lib/systemd/system CACHE PATH "Where the systemd unit goes")

install(TARGETS letreiro RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
install(FILES data/qvrtip.dat DESTINATION ${CMAKE_INSTALL_DATADIR}/letreiro COMPONENT desktop)
install(FILES data/letreiro.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
        COMPONENT desktop)
install(FILES src/app/resources/letreiro.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT desktop)
install(FILES data/io.github.letreiro.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        COMPONENT desktop)
# Message files open in the program from a file manager.
install(FILES data/letreiro-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME letreiro.xml COMPONENT desktop)

install(TARGETS letreiro-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
# A message to try the tool on, as README's quick start does.
install(FILES exemplos/promocao.msg DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/letreiro-cli/exemplos
        COMPONENT cli)

# The service runs as the system user "letreiro" (sysusers.d), under a
# fenced systemd unit; /etc/letreiro holds only the administrator's file.
install(TARGETS letreiro-servidor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT servidor)
install(FILES data/letreiro-servidor.service DESTINATION ${LETREIRO_UNIT_DIR} COMPONENT servidor)
install(FILES data/letreiro-servidor.ini DESTINATION /etc/letreiro COMPONENT servidor)
install(FILES ${LETREIRO_DEBIAN}/letreiro-servidor.sysusers DESTINATION lib/sysusers.d
        RENAME letreiro-servidor.conf COMPONENT servidor)
install(FILES ${LETREIRO_DEBIAN}/letreiro-servidor.tmpfiles DESTINATION lib/tmpfiles.d
        RENAME letreiro-servidor.conf COMPONENT servidor)
# A first run on this machine against the emulator, before any real line.
install(FILES exemplos/servidor-local.ini exemplos/sede.ini exemplos/letreiro-alertas.yml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/letreiro-servidor/exemplos COMPONENT servidor)
install(FILES data/doc/inicio-rapido.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/letreiro-servidor COMPONENT servidor)

# Every package carries its copyright, changelog and manual page, as Debian
# asks (compressed the way lintian wants: gzip -9, no name or time).
set(changelog ${CMAKE_BINARY_DIR}/debian/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/debian)
execute_process(COMMAND gzip -9nc ${LETREIRO_DEBIAN}/changelog OUTPUT_FILE ${changelog})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${LETREIRO_DEBIAN}/changelog)
foreach(pair desktop:letreiro:1 cli:letreiro-cli:1 servidor:letreiro-servidor:8)
    string(REPLACE ":" ";" pair ${pair})
    list(GET pair 0 component)
    list(GET pair 1 package)
    list(GET pair 2 section)
    install(FILES ${LETREIRO_DEBIAN}/copyright ${changelog}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    set(page ${CMAKE_BINARY_DIR}/debian/${package}.${section}.gz)
    execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/data/man/${package}.${section}
                    OUTPUT_FILE ${page})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${PROJECT_SOURCE_DIR}/data/man/${package}.${section})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            COMPONENT ${component})
    string(TOUPPER ${component} upper)
    set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL desktop cli servidor)
set(CPACK_PACKAGE_NAME letreiro)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Equipe Letreiro <letreiro@letreiro.com.br>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries each program links, as dpkg-shlibdeps finds them; only what
# the programs load at run time is named by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# Stripped programs; their debug symbols in letreiro*-dbgsym .ddeb files.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DESKTOP_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS
    "qt6-qpa-plugins, libqt6svg6, fonts-liberation, qt6-translations-l10n")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_SUGGESTS "letreiro-cli")
set(CPACK_DEBIAN_DESKTOP_DESCRIPTION
    "editor e carregador de mensagens para painéis de LED
O operador escreve uma mensagem com efeitos (etiquetas como <Roda_Cima__>),
vê como o painel vai exibi-la, guarda-a como arquivo *.msg e a envia a um
painel ou a todos pela porta serial, a 2400 baud. Também inicia, para e
apaga os painéis e acerta a hora e a data deles.")

set(CPACK_DEBIAN_CLI_DESCRIPTION
    "painéis de LED pela linha de comando, e um emulador de painel
letreiro-cli envia textos, mensagens *.msg e comandos aos painéis de LED de
uma linha pela porta serial ou por TCP, para scripts como o acerto noturno
do relógio; simula uma mensagem (texto, SVG ou PNG) e emula um painel, para
experimentar tudo sem o aparelho.")

set(CPACK_DEBIAN_SERVIDOR_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVIDOR_PACKAGE_DEPENDS "systemd")
set(CPACK_DEBIAN_SERVIDOR_DESCRIPTION
    "painéis de LED na rede: página, API e repasse das linhas
letreiro-servidor é o dono das linhas seriais dos painéis: cada pedido, da
página web, da API JSON, de um script, do MQTT ou do programa do operador
pelo repasse TCP, vira uma troca inteira por vez em cada linha. Tem agenda
de mensagens, histórico e usuários com senha ou token. Roda como serviço do
systemd, com o usuário próprio letreiro.")
set(CPACK_DEBIAN_SERVIDOR_PACKAGE_CONTROL_EXTRA
    ${LETREIRO_DEBIAN}/conffiles
    ${CMAKE_BINARY_DIR}/debian/postinst ${CMAKE_BINARY_DIR}/debian/prerm
    ${CMAKE_BINARY_DIR}/debian/postrm)
# dpkg takes the scripts by their plain names.
foreach(script postinst prerm postrm)
    configure_file(${LETREIRO_DEBIAN}/letreiro-servidor.${script}
                   ${CMAKE_BINARY_DIR}/debian/${script} COPYONLY)
endforeach()

include(CPack)
cpack_add_component(desktop DISPLAY_NAME "letreiro")
cpack_add_component(cli DISPLAY_NAME "letreiro-cli")
cpack_add_component(servidor DISPLAY_NAME "letreiro-servidor")
