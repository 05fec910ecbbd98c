# The fleet exporter's part of the installation: the program, its systemd unit (not
# enabled), its options and a commented targets file under /etc, kept as configuration
# files by the package, and the Prometheus rules and example configuration.
set(EXPORTER_PACKAGING ${CMAKE_CURRENT_LIST_DIR})

install(TARGETS control7710-exporter RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${EXPORTER_PACKAGING}/control7710-exporter.service
        DESTINATION /lib/systemd/system)
install(FILES ${EXPORTER_PACKAGING}/control7710-exporter.default
        DESTINATION /etc/default RENAME control7710-exporter)
install(FILES ${EXPORTER_PACKAGING}/targets DESTINATION /etc/control7710)
list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${EXPORTER_PACKAGING}/conffiles)

file(GLOB EXPORTER_PROMETHEUS_FILES ${CMAKE_CURRENT_LIST_DIR}/../prometheus/*.yml)
if(EXPORTER_PROMETHEUS_FILES)
    install(FILES ${EXPORTER_PROMETHEUS_FILES}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/control7710/prometheus)
endif()
