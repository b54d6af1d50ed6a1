# Engine files for a game folder as real ones are: count (-v count=N) files of 256 bytes to 4 KiB
# in the folder dir (-v dir=PATH): the packages, localisation and libraries of an engine first
# (Core.u, Engine.int, ...), then numbered packages of every kind (Texture0123.utx, ...).
BEGIN {
  n = split("Core.u Core.int Core.dll Engine.u Engine.int Engine.dll Editor.u Editor.int " \
            "Fire.u Fire.int IpDrv.u IpDrv.int UWindow.u UWindow.int UBrowser.u Render.dll " \
            "Window.dll Galaxy.dll Default.ini DefUser.ini", named, " ")
  split("Texture.utx Sound.uax Music.umx Mesh.ukx StaticMesh.usx Script.u Script.int " \
        "Anim.ukx Map.unr Texture.det Texture.est Texture.frt Texture.itt", kinds, " ")
  data = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz+/\n"
  while (length(data) < 4096) data = data data
  for (i = 0; i < count; ++i) {
    if (i < n) {
      name = named[i + 1]
    } else {
      split(kinds[i % 13 + 1], part, ".")
      name = sprintf("%s%04d.%s", part[1], i, part[2])
    }
    file = dir "/" name
    printf "%s", substr(data, 1, 256 + (i * 7919) % 3841) >file
    close(file)
  }
}
